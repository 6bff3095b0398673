#include "common/DataHora.h"

#include <gtest/gtest.h>

TEST(DataHora, FormatsDayFirstTokens) {
    const DataHora d{2024, 3, 5, 7, 8, 9, 10};
    EXPECT_EQ(FormataDataHora(d, "dd/mm/yy hh:nn:ss zzz"), "05/03/24 07:08:09 010");
    EXPECT_EQ(FormataDataHora(d, "yyyymm"), "202403");
    EXPECT_EQ(FormataDataHora(d, "dd/mm/yyyy"), "05/03/2024");
}

TEST(DataHora, CalendarArithmeticCrossesMonthsYearsAndLeapDays) {
    struct Caso {
        DataHora de;
        int dias;
        DataHora para;
    } casos[] = {
        {{2024, 2, 28, 23, 0, 0, 0}, 1, {2024, 2, 29, 23, 0, 0, 0}},
        {{2023, 2, 28, 0, 0, 0, 0}, 1, {2023, 3, 1, 0, 0, 0, 0}},
        {{2024, 12, 31, 12, 0, 0, 5}, 1, {2025, 1, 1, 12, 0, 0, 5}},
        {{2025, 1, 1, 0, 0, 0, 0}, -1, {2024, 12, 31, 0, 0, 0, 0}},
        {{1970, 1, 1, 0, 0, 0, 0}, 0, {1970, 1, 1, 0, 0, 0, 0}},
    };
    for (const auto& c : casos) EXPECT_EQ(SomaDias(c.de, c.dias), c.para);
    EXPECT_EQ(SegundosDesdeEpoca({1970, 1, 2, 0, 0, 1, 0}), 86401);
}

TEST(DataHora, ValidatesDates) {
    EXPECT_TRUE(DataValida({2024, 2, 29, 0, 0, 0, 0}));
    EXPECT_FALSE(DataValida({2023, 2, 29, 0, 0, 0, 0}));
    EXPECT_FALSE(DataValida({2023, 13, 1, 0, 0, 0, 0}));
    EXPECT_FALSE(DataValida({2023, 1, 1, 24, 0, 0, 0}));
}

TEST(DataHora, LocalRoundTrip) {
    const std::time_t t = 1700000000;
    EXPECT_EQ(InstanteLocal(DataHoraLocal(t)), t);
}

TEST(DataHora, UnixParaData) {
    EXPECT_EQ(UnixParaData(0), (DataHora{1970, 1, 1, 0, 0, 0, 0}));
    EXPECT_EQ(UnixParaData(86400), (DataHora{1970, 1, 2, 0, 0, 0, 0}));
    EXPECT_EQ(UnixParaData(-1), (DataHora{1969, 12, 31, 23, 59, 59, 0}));
    EXPECT_EQ(UnixParaData(INT32_MAX), (DataHora{2038, 1, 19, 3, 14, 7, 0}));
}
