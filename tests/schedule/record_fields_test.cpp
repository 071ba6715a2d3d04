#include "record_fields.h"

#include <gtest/gtest.h>

TEST(PegaCampo, FieldsBetweenBars) {
    const QString rec = "|19:00|20:00|x|";
    EXPECT_EQ(PEGA_CAMPO(1, rec), "19:00");
    EXPECT_EQ(PEGA_CAMPO(2, rec), "20:00");
    EXPECT_EQ(PEGA_CAMPO(3, rec), "x");
    EXPECT_EQ(PEGA_CAMPO(4, rec), "");
    EXPECT_EQ(PEGA_CAMPO(0, rec), "");
    EXPECT_EQ(PEGA_CAMPO(-3, rec), "");
    EXPECT_EQ(PEGA_CAMPO(0, "ab|cd|"), "ab");
    EXPECT_EQ(PEGA_CAMPO(2, "|19:00|20:00"), ""); // last field not closed
    EXPECT_EQ(PEGA_CAMPO(1, "no bars at all"), "");
    EXPECT_EQ(PEGA_CAMPO(1, ""), "");
}

TEST(PegaCampo, OnlyThousandCharactersAreKeptAfterEachCut) {
    const QString rec = "|" + QString(999, 'a') + "|b|c|";
    EXPECT_EQ(PEGA_CAMPO(1, rec).size(), 999);
    EXPECT_EQ(PEGA_CAMPO(2, rec), ""); // the cut after field 1 kept only "aaa...|"
    const QString fits = "|" + QString(997, 'a') + "|b|c|";
    EXPECT_EQ(PEGA_CAMPO(2, fits), "b");
}

TEST(PreencheZeros, LeftFillsAfterLeadingBlanks) {
    EXPECT_EQ(PREENCHE_ZEROS("7", 2), "07");
    EXPECT_EQ(PREENCHE_ZEROS(" 7", 2), "07");
    EXPECT_EQ(PREENCHE_ZEROS("123", 2), "123");
    EXPECT_EQ(PREENCHE_ZEROS(" 12", 2), " 12");
    EXPECT_EQ(PREENCHE_ZEROS("500", 4), "0500");
    EXPECT_EQ(PREENCHE_ZEROS("", 2), "00");
    EXPECT_EQ(PREENCHE_ZEROS("2025", 4), "2025");
}

TEST(BackupLinks, Field10InOrderAndNoneInTodaysRecords) {
    EXPECT_EQ(backup_links("|19:00|20:00|http://main/live|STREAMING|100|abre.mp3|fecha.mp3|0|0|"
                           "http://mirror/live  https://other/live.m3u8 |"),
              (QStringList{"http://mirror/live", "https://other/live.m3u8"}));
    EXPECT_TRUE(backup_links("|19:00|20:00|http://main/live|STREAMING|100|||0|0||").isEmpty());
    EXPECT_TRUE(backup_links("|19:00|20:00|http://main/live|STREAMING|100|||0|0|").isEmpty()); // older, shorter
}
