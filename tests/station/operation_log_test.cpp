#include "operation_log.h"

#include "clock.h"
#include "file_size_limit.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace miravox;

namespace {

class OperationLogTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString logs = dir.path() + "/LOGS/";
    std::shared_ptr<ManualClock> manual =
        std::make_shared<ManualClock>(QDateTime(QDate(2025, 3, 5), QTime(8, 0, 1)));
    ScopedClock scope{manual};

    void SetUp() override { QDir().mkpath(logs); }
    QStringList file_lines(const QDate& day) {
        auto f = read_text_file(OperationLog(logs).file_for(day));
        return f ? f->lines : QStringList{};
    }
};

} // namespace

TEST_F(OperationLogTest, NumberedTimestampedLinesInTheDayFile) {
    OperationLog log(logs);
    EXPECT_EQ(log.file_for(QDate(2025, 3, 5)), logs + "20250305.NET");
    log.SALVA_LOGS("INICIO");
    manual->advance_ms(1000);
    log.SALVA_LOGS("a|b"); // written unchanged
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)), (QStringList{"|08:00:01|0|INICIO|", "|08:00:02|1|a|b|"}));
}

TEST_F(OperationLogTest, FirstEntryAfterMidnightStartsANewFileAtZero) {
    OperationLog log(logs);
    manual->set(QDateTime(QDate(2025, 3, 5), QTime(23, 59, 59)));
    log.SALVA_LOGS("yesterday 1");
    log.SALVA_LOGS("yesterday 2");
    manual->advance_ms(2000);
    log.SALVA_LOGS("today");
    EXPECT_EQ(file_lines(QDate(2025, 3, 6)), QStringList{"|00:00:01|0|today|"});
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)).size(), 2);
    EXPECT_EQ(log.wlista_logs.size(), 1);
}

TEST_F(OperationLogTest, RestartOnTheSameDayContinuesTheNumbering) {
    {
        OperationLog first(logs);
        first.SALVA_LOGS("one");
        first.SALVA_LOGS("two");
    }
    OperationLog second(logs);
    second.load_today();
    second.SALVA_LOGS("banner");
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)).last(), "|08:00:01|2|banner|");
}

TEST_F(OperationLogTest, DeletedFileRestartsAtZeroWithoutTheEarlierLines) {
    OperationLog log(logs);
    log.SALVA_LOGS("one");
    log.SALVA_LOGS("two");
    QFile::remove(log.file_for(QDate(2025, 3, 5)));
    log.SALVA_LOGS("three");
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)), QStringList{"|08:00:01|0|three|"});
}

TEST_F(OperationLogTest, MissingFolderLosesEntriesSilentlyAndLoggingResumesLater) {
    OperationLog log(logs);
    QDir(logs).removeRecursively();
    log.SALVA_LOGS("lost 1");
    log.SALVA_LOGS("lost 2");
    EXPECT_EQ(log.wlista_logs.size(), 1); // each call finds no file and starts afresh
    QDir().mkpath(logs);
    log.SALVA_LOGS("back");
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)), QStringList{"|08:00:01|0|back|"});
}

TEST_F(OperationLogTest, UnwritableFileKeepsEntriesInMemoryUntilTheNextWrite) {
    OperationLog log(logs);
    log.SALVA_LOGS("first");
    {
        miravox::testing::FileSizeLimit full_disk(30);
        log.SALVA_LOGS("kept in memory");
    }
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)).size(), 1);
    log.SALVA_LOGS("third");
    EXPECT_EQ(file_lines(QDate(2025, 3, 5)),
              (QStringList{"|08:00:01|0|first|", "|08:00:01|1|kept in memory|", "|08:00:01|2|third|"}));
}

TEST_F(OperationLogTest, ByteOrderMarkedDayFileKeepsItsEncoding) {
    OperationLog first(logs);
    const QString path = first.file_for(QDate(2025, 3, 5));
    ASSERT_TRUE(write_text_file(path, {"|07:00:00|0|Início|"}, TextEncoding::Utf8Bom));
    OperationLog log(logs);
    log.load_today();
    log.SALVA_LOGS("Conexão");
    auto back = read_text_file(path);
    EXPECT_EQ(back->encoding, TextEncoding::Utf8Bom);
    EXPECT_EQ(back->lines, (QStringList{"|07:00:00|0|Início|", "|08:00:01|1|Conexão|"}));
}
