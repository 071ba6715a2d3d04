#pragma once
// The airings of a range of days grouped per audio file, shared by the text, CSV and HTML
// reports.
// Thread rules: any single thread.

#include "proof_of_play.h"

#include <map>

namespace miravox {

struct FileTotals {
    int complete = 0;
    int cut = 0;
    int missed = 0;
    qint64 seconds = 0;
    std::vector<Airing> airings;

    void add(const Airing& a);
    void add(const FileTotals& t);
};

struct RangeAirings {
    std::map<QString, FileTotals> by_file;
    FileTotals all;
    std::vector<QDate> days_without_file;
};

RangeAirings airings_of_range(const QString& logs_folder, const QDate& from, const QDate& to);

} // namespace miravox
