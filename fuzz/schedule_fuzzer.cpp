// Weekday files as they come from disk, hand-edited or damaged: decoding with any byte-order
// mark, line splitting, the sorted order the files are kept in, field access and the commercial
// trigger look-up.

#include "fuzz_check.h"
#include "record_fields.h"
#include "text_file.h"
#include "weekday_files.h"

#include <QDate>

#include <cstddef>
#include <cstdint>

using miravox::fuzz::check;

namespace {

void check_fields(const QString& line) {
    for (int n = -1; n <= 6; ++n) {
        const QString field = PEGA_CAMPO(n, line);
        check(!field.contains('|'), "a field never holds a bar");
        if (n >= 1)
            check(field.size() < 1000, "a field is cut at 1000 characters");
    }
    for (int width : {0, 2, 8}) {
        const QString field = PEGA_CAMPO(1, line);
        const QString padded = PREENCHE_ZEROS(field, width);
        check(padded.size() >= width, "padding reaches the width");
        if (padded != field) {
            check(padded.size() == width, "padding stops at the width");
            qsizetype zeros = 0;
            while (zeros < padded.size() && padded[zeros] == '0')
                ++zeros;
            const QString text = padded.mid(zeros);
            check(text.isEmpty() || field.endsWith(text), "padding only puts zeros in front of the text");
        }
    }
}

// A trigger whose own minute is a readable time ("9:30" is 09:30) and whose dates are readable
// and in order fires on its first day at its minute, and whatever fires is one of the lines, at
// the asked minute.
void check_trigger(const QStringList& lines, const QString& line) {
    const QString minute = PEGA_CAMPO(1, line);
    const auto asked = miravox::parse_stored_time(minute.trimmed() + ":00");
    const QDate first = miravox::parse_date(PEGA_CAMPO(2, line));
    const QDate last = miravox::parse_date(PEGA_CAMPO(3, line));
    const QDate today = first.isValid() ? first : QDate(2024, 8, 1);
    const QString due = miravox::find_trigger(lines, minute, today);
    if (!due.isEmpty()) {
        check(lines.contains(due), "the trigger is a line of the file");
        check(asked && miravox::parse_stored_time(PEGA_CAMPO(1, due).trimmed() + ":00") == asked,
              "the trigger is at the asked minute");
    }
    if (asked && first.isValid() && last.isValid() && first <= last)
        check(!due.isEmpty(), "a trigger fires on its first day");
    if (first.isValid())
        check(miravox::parse_date(first.toString("dd/MM/yyyy")) == first, "a date reads back");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    miravox::TextEncoding encoding{};
    const QString text = miravox::decode_text(bytes, &encoding);
    QStringList lines = miravox::split_lines(text);
    for (const QString& line : lines)
        check(!line.contains('\r') && !line.contains('\n'), "a line holds no line break");

    if (lines.size() <= 64) { // sorting costs a collator per call: keep the fuzzer fast
        QStringList sorted = lines;
        miravox::sort_lines(sorted);
        check(sorted.size() == lines.size(), "sorting keeps every line");
    }
    for (const QString& line : lines) {
        check_fields(line);
        check_trigger(lines, line);
    }
    return 0;
}
