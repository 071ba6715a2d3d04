#include "text_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "file_size_limit.h"

using namespace miravox;

namespace {

QByteArray read_bytes(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void write_bytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
}

} // namespace

TEST(TextFile, WritesWindows1252WithCrLfAfterEveryLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath("a.txt");
    ASSERT_TRUE(write_text_file(path, {"Música", "Configuração", "à"}));
    EXPECT_EQ(read_bytes(path), QByteArray("M\xFAsica\r\nConfigura\xE7\xE3o\r\n\xE0\r\n"));
    auto back = read_text_file(path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->lines, (QStringList{"Música", "Configuração", "à"}));
    EXPECT_EQ(back->encoding, TextEncoding::Windows1252);
}

TEST(TextFile, ReadsLfOnlyAndCrOnlyAndKeepsBlankLines) {
    EXPECT_EQ(split_lines("a\nb\n\nc"), (QStringList{"a", "b", "", "c"}));
    EXPECT_EQ(split_lines("a\r\nb\r\n"), (QStringList{"a", "b"}));
    EXPECT_EQ(split_lines("a\rb"), (QStringList{"a", "b"}));
    EXPECT_TRUE(split_lines("").isEmpty());
}

TEST(TextFile, ByteOrderMarkedFilesAreWrittenBackInTheirEncoding) {
    QTemporaryDir dir;
    struct Case {
        TextEncoding encoding;
        QByteArray bom;
    } cases[] = {{TextEncoding::Utf8Bom, "\xEF\xBB\xBF"},
                 {TextEncoding::Utf16LeBom, "\xFF\xFE"},
                 {TextEncoding::Utf16BeBom, "\xFE\xFF"}};
    for (const Case& c : cases) {
        const QString path = dir.filePath("bom.txt");
        ASSERT_TRUE(write_text_file(path, {"Sábado|ação"}, c.encoding));
        EXPECT_TRUE(read_bytes(path).startsWith(c.bom));
        auto back = read_text_file(path);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->encoding, c.encoding);
        EXPECT_EQ(back->lines, QStringList{"Sábado|ação"});
    }
}

TEST(TextFile, Utf8WithoutMarkIsDetectedExceptWhenAskedNotTo) {
    QTemporaryDir dir;
    const QString path = dir.filePath("u.txt");
    write_bytes(path, "M\xC3\xBAsica\n");
    EXPECT_EQ(read_text_file(path)->lines, QStringList{"Música"});
    EXPECT_EQ(read_text_file(path, nullptr, false)->lines, QStringList{"MÃºsica"});
}

TEST(TextFile, EveryByteSurvivesTheCodePageRoundTrip) {
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all.append(char(b));
    EXPECT_EQ(encode_cp1252(decode_cp1252(all)), all);
    EXPECT_EQ(decode_cp1252("\x80\x99"), QString::fromUtf8("€™"));
}

TEST(TextFile, MissingFileIsReportedNotCreated) {
    QTemporaryDir dir;
    QString error;
    EXPECT_FALSE(read_text_file(dir.filePath("none.txt"), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("none.txt")));
}

TEST(TextFile, FailedRewriteLeavesTheOldFileIntact) {
    QTemporaryDir dir;
    const QString path = dir.filePath("07.WEB");
    ASSERT_TRUE(write_text_file(path, {"|19:00|20:00|http://old|"}));
    const QByteArray before = read_bytes(path);

    QStringList big;
    for (int i = 0; i < 50; ++i)
        big << QString("|%1:00|%1:30|http://new|").arg(i % 24, 2, 10, QChar('0'));
    QString error;
    bool ok;
    {
        miravox::testing::FileSizeLimit full_disk(64);
        ok = write_text_file(path, big, TextEncoding::Windows1252, &error);
    }
    EXPECT_FALSE(ok);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(read_bytes(path), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"07.WEB"}); // no temporary left behind
}

TEST(TextFile, WriteIntoMissingFolderFails) {
    QTemporaryDir dir;
    EXPECT_FALSE(write_text_file(dir.filePath("no/such/folder/x.txt"), {"a"}));
}

TEST(TextFile, SortIgnoresCaseAndOrdersByTime) {
    QStringList lines{"|19:30|20:00|b|", "|08:00|09:00|Z|", "", "|08:00|09:00|a|", "|19:00|19:30|x|"};
    sort_lines(lines);
    EXPECT_EQ(lines, (QStringList{"", "|08:00|09:00|a|", "|08:00|09:00|Z|", "|19:00|19:30|x|", "|19:30|20:00|b|"}));
}
