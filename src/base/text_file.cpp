#include "text_file.h"

#include <QCollator>
#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace miravox {

namespace {

// Code points of bytes 0x80..0x9F in Windows-1252; the undefined ones keep their value.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char encode_cp1252_char(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (size_t i = 0; i < kCp1252High.size(); ++i)
        if (kCp1252High[i] == c)
            return char(0x80 + i);
    return '?';
}

const QByteArray kUtf8Bom("\xEF\xBB\xBF", 3);
const QByteArray kUtf16LeBom("\xFF\xFE", 2);
const QByteArray kUtf16BeBom("\xFE\xFF", 2);

} // namespace

bool is_valid_utf8_with_non_ascii(const QByteArray& bytes) {
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return (unsigned char)c < 0x80; }))
        return false;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    return !decoder.hasError();
}

QString decode_cp1252(const QByteArray& bytes) {
    QString out(bytes.size(), Qt::Uninitialized);
    QChar* d = out.data();
    for (char b : bytes) {
        const auto u = (unsigned char)b;
        *d++ = QChar(u >= 0x80 && u < 0xA0 ? kCp1252High[u - 0x80] : char16_t(u));
    }
    return out;
}

QByteArray encode_cp1252(const QString& text) {
    QByteArray out(text.size(), Qt::Uninitialized);
    char* d = out.data();
    for (QChar c : text)
        *d++ = encode_cp1252_char(c.unicode());
    return out;
}

QString decode_text(const QByteArray& bytes, TextEncoding* encoding, bool detect_utf8) {
    TextEncoding enc = TextEncoding::Windows1252;
    QString text;
    if (bytes.startsWith(kUtf8Bom)) {
        enc = TextEncoding::Utf8Bom;
        text = QString::fromUtf8(bytes.mid(3));
    } else if (bytes.startsWith(kUtf16LeBom)) {
        enc = TextEncoding::Utf16LeBom;
        text = QStringDecoder(QStringDecoder::Utf16LE)(bytes.mid(2));
    } else if (bytes.startsWith(kUtf16BeBom)) {
        enc = TextEncoding::Utf16BeBom;
        text = QStringDecoder(QStringDecoder::Utf16BE)(bytes.mid(2));
    } else if (detect_utf8 && is_valid_utf8_with_non_ascii(bytes)) {
        text = QString::fromUtf8(bytes);
    } else {
        text = decode_cp1252(bytes);
    }
    if (encoding)
        *encoding = enc;
    return text;
}

QByteArray encode_text(const QString& text, TextEncoding encoding) {
    switch (encoding) {
    case TextEncoding::Utf8Bom:
        return kUtf8Bom + text.toUtf8();
    case TextEncoding::Utf16LeBom:
        return kUtf16LeBom + QByteArray(QStringEncoder(QStringEncoder::Utf16LE)(text));
    case TextEncoding::Utf16BeBom:
        return kUtf16BeBom + QByteArray(QStringEncoder(QStringEncoder::Utf16BE)(text));
    case TextEncoding::Windows1252:
        break;
    }
    return encode_cp1252(text);
}

QStringList split_lines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text[i];
        if (c != '\r' && c != '\n')
            continue;
        lines << text.mid(start, i - start);
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines << text.mid(start);
    return lines;
}

std::optional<TextFile> read_text_file(const QString& path, QString* error, bool detect_utf8) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        if (error)
            *error = file.errorString();
        return std::nullopt;
    }
    TextFile result;
    result.lines = split_lines(decode_text(bytes, &result.encoding, detect_utf8));
    return result;
}

namespace {

// Writes all of `bytes` to `fd`, retrying short writes; false on any error (a full disk, a
// file-size limit). QSaveFile is not used because it reports success after a short write.
bool write_all(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

bool write_text_file(const QString& path, const QStringList& lines, TextEncoding encoding, QString* error) {
    QString text;
    for (const QString& line : lines) {
        text += line;
        text += QLatin1String("\r\n");
    }
    const QByteArray bytes = encode_text(text, encoding);

    // Write a temporary file beside the target, flush it to disk, then rename it over the
    // target: readers see either the old file or the new one, never half of it.
    const QByteArray target = QFile::encodeName(path);
    QByteArray temp = target + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (error)
            *error = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    ::fchmod(fd, 0644);
    bool ok = write_all(fd, bytes) && ::fsync(fd) == 0;
    int saved_errno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        saved_errno = errno;
    }
    if (ok && ::rename(temp.constData(), target.constData()) != 0) {
        ok = false;
        saved_errno = errno;
    }
    if (!ok) {
        ::unlink(temp.constData());
        if (error)
            *error = QString::fromLocal8Bit(strerror(saved_errno ? saved_errno : EIO));
    }
    return ok;
}

void sort_lines(QStringList& lines) {
    QCollator collator{QLocale(QLocale::Portuguese, QLocale::Brazil)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(lines.begin(), lines.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
}

} // namespace miravox
