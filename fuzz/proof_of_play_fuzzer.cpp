// The day file of proof of play as a power cut or a damaged disk leaves it. Rows made from the
// input (any text in the text fields) are written as the program writes them, then one of them
// is cut anywhere, or bytes from the input are put between two of them (closed by the line end
// the next append adds): every other row must still be read, and with no damage every row must
// come back exactly. Arbitrary bytes are read as a day file too.

#include "fuzz_check.h"
#include "proof_of_play.h"

#include <QByteArray>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

using miravox::Airing;
using miravox::fuzz::check;

namespace {

class Input {
  public:
    Input(const std::uint8_t* data, size_t size) : data_(data), size_(size) {}
    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    QByteArray bytes(size_t n) {
        n = std::min(n, size_ - pos_);
        QByteArray b(reinterpret_cast<const char*>(data_ + pos_), qsizetype(n));
        pos_ += n;
        return b;
    }
    QString text() { return QString::fromUtf8(bytes(byte() % 24)); }

  private:
    const std::uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

const QString kFinal[] = {miravox::kAiringComplete, miravox::kAiringCut, miravox::kAiringMissing,
                          miravox::kAiringError};

Airing make_row(Input& in, int i) {
    Airing a;
    a.date = QDate(2026, 12, 10);
    a.scheduled = in.text();
    a.outcome = kFinal[in.byte() % 4];
    a.file = in.text();
    a.detail = in.text();
    a.seconds_aired = in.byte();
    a.file_seconds = in.byte() % 2 ? -1 : in.byte();
    if (a.outcome == miravox::kAiringComplete || a.outcome == miravox::kAiringCut) {
        // A start of its own: no two rows are the same airing.
        a.start = QTime(10, 0).addSecs(i);
        a.end = a.start.addSecs(in.byte());
    }
    return a;
}

// Whether `a` was read: the same row, or (for one that went on the air, which garbage before
// it could have named first) a row of the same airing.
bool was_read(const Airing& a, const std::vector<Airing>& read) {
    const QString key = miravox::airing_key(a);
    return std::any_of(read.begin(), read.end(), [&](const Airing& r) {
        return r == a || (!key.isEmpty() && miravox::airing_key(r) == key);
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    // Any bytes at all as a file: read without a fault.
    (void)miravox::read_airings_from(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)), {});

    Input in(data, size);
    const int count = 2 + in.byte() % 5;
    const int mode = in.byte() % 3; // 0 none, 1 a row cut anywhere, 2 garbage between two rows
    const int damaged = in.byte() % count;
    std::vector<Airing> rows;
    for (int i = 0; i < count; ++i)
        rows.push_back(make_row(in, i));

    QByteArray file = miravox::proof_of_play_header();
    for (int i = 0; i < count; ++i) {
        const QByteArray row = miravox::airing_row(rows[size_t(i)]);
        check(row.indexOf('\n') == row.size() - 1, "a row is one line");
        if (mode == 1 && i == damaged) {
            file += row.left(((in.byte() << 8) | in.byte()) % row.size());
            if (i + 1 < count)
                file += "\r\n"; // the next append closes the cut line
            continue;
        }
        file += row;
        if (mode == 2 && i == damaged) {
            const QByteArray garbage = in.bytes(in.byte());
            file += garbage;
            if (!garbage.isEmpty() && !garbage.endsWith('\n'))
                file += "\r\n";
        }
    }

    const std::vector<Airing> read = miravox::read_airings_from(file, {});
    if (mode == 0)
        check(read == rows, "every row comes back as written");
    for (int i = 0; i < count; ++i)
        if (!(mode == 1 && i == damaged))
            check(was_read(rows[size_t(i)], read), "a damaged row costs no other row");
    return 0;
}
