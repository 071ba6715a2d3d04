#include "weekday_files.h"

#include "text_file.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

using namespace miravox;

TEST(WeekdayFiles, NamesAndWeekdayNumbers) {
    EXPECT_EQ(weekday_file_name("/d/", 1, ".WEB"), "/d/01.WEB");
    EXPECT_EQ(weekday_file_name("/d/", 7, ".DSP"), "/d/07.DSP");
    EXPECT_EQ(weekday_number(QDate(2026, 12, 6)), 1); // a Sunday
    EXPECT_EQ(weekday_number(QDate(2026, 12, 12)), 7); // a Saturday
}

TEST(WeekdayFiles, ReadSortedOrInFileOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath("01.WEB");
    EXPECT_FALSE(read_weekday_file(path, true).exists);
    ASSERT_TRUE(write_text_file(path, {"|20:00|21:00|b|", "", "|19:00|20:00|a|"}));
    const WeekdayFile sorted = read_weekday_file(path, true);
    EXPECT_TRUE(sorted.exists);
    EXPECT_EQ(sorted.lines, (QStringList{"", "|19:00|20:00|a|", "|20:00|21:00|b|"}));
    EXPECT_EQ(read_weekday_file(path, false).lines.first(), "|20:00|21:00|b|");
}

TEST(WeekdayFiles, DatesAreDayFirstAndImpossibleDatesAreInvalid) {
    EXPECT_EQ(parse_date("01/08/2024"), QDate(2024, 8, 1));
    EXPECT_EQ(parse_date("1/8/2024"), QDate(2024, 8, 1));
    EXPECT_FALSE(parse_date("31/02/2024").isValid());
    EXPECT_FALSE(parse_date("2024-08-01").isValid());
    EXPECT_FALSE(parse_date("").isValid());
}

TEST(FindTrigger, RangeIsInclusiveAndTheLastMatchingLineWins) {
    const QDate aug1(2024, 8, 1);
    const QStringList lines{"|19:30|01/08/2024|01/08/2024|/a.mp3|", "|19:30|01/07/2024|31/08/2024|/b.mp3|",
                            "|19:31|01/08/2024|31/08/2024|/c.mp3|"};
    EXPECT_EQ(find_trigger(lines, "19:30", aug1), lines[1]); // both qualify: the later line
    EXPECT_EQ(find_trigger(lines.mid(0, 1), "19:30", aug1), lines[0]);
    EXPECT_EQ(find_trigger(lines.mid(0, 1), "19:30", aug1.addDays(1)), "");
    EXPECT_EQ(find_trigger(lines.mid(0, 1), "19:30", aug1.addDays(-1)), "");
    EXPECT_EQ(find_trigger(lines, "19:31", QDate(2024, 8, 31)), lines[2]);
    EXPECT_EQ(find_trigger(lines, "19:32", aug1), "");
}

TEST(FindTrigger, UnreadableDatesNeverFireAndOneDigitHoursAreReadAsTheEditorReadsThem) {
    const QDate today(2024, 3, 1);
    EXPECT_EQ(find_trigger({"|09:30|31/02/2024|31/12/2024|/a.mp3|"}, "09:30", today), "");
    EXPECT_EQ(find_trigger({"|09:30|01/01/2024|xx|/a.mp3|"}, "09:30", today), "");
    // Written by hand: the commercial editor reads "9:30" as 09:30, so it fires then.
    const QString by_hand = "| 9:30 |01/01/2024|31/12/2024|/a.mp3|";
    EXPECT_EQ(find_trigger({by_hand}, "09:30", today), by_hand);
    EXPECT_EQ(find_trigger({by_hand}, "19:30", today), "");
    EXPECT_EQ(find_trigger({"|9h30|01/01/2024|31/12/2024|/a.mp3|"}, "09:30", today), "");
    EXPECT_EQ(find_trigger({"", "garbage", "|"}, "09:30", today), "");
    EXPECT_EQ(find_trigger({}, "09:30", today), "");
}
