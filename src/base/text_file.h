#pragma once
// Whole-file text I/O for every file the program keeps: configuration, schedules, logs.
// Files are never held open: a reader loads all lines, a writer replaces the whole file.
//
// - The program writes Windows-1252 with CR LF after every line and no byte-order mark.
// - A file that was read with a UTF-8 or UTF-16 byte-order mark is written back in that
//   encoding (the caller keeps the TextEncoding it read and hands it back).
// - Reading accepts CR LF, LF-only and CR-only line ends. A file without a byte-order mark
//   that is valid UTF-8 and holds non-ASCII text (hand-edited on a UTF-8 desktop) is read as
//   UTF-8; anything else is read as Windows-1252.
// - Every rewrite is atomic: a temporary file in the same folder is written, flushed and
//   renamed over the old one, so a crash, a full disk or a power cut never leaves a
//   half-written file.
//
// Thread rules: plain functions without shared state; callable from any thread.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace miravox {

enum class TextEncoding { Windows1252, Utf8Bom, Utf16LeBom, Utf16BeBom };

struct TextFile {
    QStringList lines;
    TextEncoding encoding = TextEncoding::Windows1252;
};

// Loads a whole file. Returns nothing when the file is missing or cannot be read; the
// reason, if wanted, goes to *error.
// `detect_utf8` false reads a file without byte-order mark always as Windows-1252 (the
// configuration file, whose scrambled password bytes must come back exactly as written).
std::optional<TextFile> read_text_file(const QString& path, QString* error = nullptr, bool detect_utf8 = true);

// Replaces the file with `lines`, each ended by CR LF. On failure the old file is left as
// it was, false is returned and the reason goes to *error.
bool write_text_file(const QString& path, const QStringList& lines,
                     TextEncoding encoding = TextEncoding::Windows1252, QString* error = nullptr);

// Splits decoded text into lines the way the schedule and log readers expect.
QStringList split_lines(const QString& text);

// Windows-1252 conversion. The five bytes the code page leaves undefined map to the C1
// control characters of the same value, so any byte string survives a round trip.
QString decode_cp1252(const QByteArray& bytes);
QByteArray encode_cp1252(const QString& text);

// Whether `bytes` hold non-ASCII text that is valid UTF-8 (how a file without byte-order mark
// is told to be UTF-8).
bool is_valid_utf8_with_non_ascii(const QByteArray& bytes);

// Detects a byte-order mark and decodes accordingly (see the header comment).
QString decode_text(const QByteArray& bytes, TextEncoding* encoding, bool detect_utf8 = true);
QByteArray encode_text(const QString& text, TextEncoding encoding);

// Sorts lines in ascending order, comparing without regard to case with the locale-aware
// collation of the program (Brazilian Portuguese). Schedule files are kept in this order.
void sort_lines(QStringList& lines);

} // namespace miravox
