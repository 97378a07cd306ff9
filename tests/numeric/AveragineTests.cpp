// SPDX-License-Identifier: GPL-3.0-or-later
#include <vector>

#include <gtest/gtest.h>

#include "numeric/Averagine.h"

namespace {

// Published averagine abundances (percent of the tallest isotope) at round masses. The two-term
// approximation overestimates M+2 of light peptides by up to 2.5 points.
struct Published {
    double mass;
    std::vector<double> percent;
};

TEST(Averagine, PatternMatchesPublishedAbundances) {
    const Published table[] = {{500.0, {100.0, 26.7, 4.9}},
                               {1000.0, {100.0, 53.6, 16.7, 3.9}},
                               {1500.0, {100.0, 81.6, 41.5, 15.7}},
                               {2000.0, {92.3, 100.0, 62.9, 29.0}},
                               {3000.0, {61.7, 100.0, 88.4, 55.7}}};
    for (const Published& row : table) {
        double pattern[8];
        varnex::numeric::AveraginePattern(row.mass, pattern, 8);
        for (std::size_t i = 0; i < row.percent.size(); ++i) {
            EXPECT_NEAR(100.0 * pattern[i], row.percent[i], 3.0) << row.mass << " Da, isotope " << i;
        }
    }
}

TEST(Averagine, MonoisotopicPeakStopsBeingTallestNear1800Da) {
    double pattern[4];
    EXPECT_EQ(varnex::numeric::AveraginePattern(1700.0, pattern, 4), 0);
    EXPECT_EQ(varnex::numeric::AveraginePattern(1900.0, pattern, 4), 1);
}

TEST(Averagine, TableAgreesWithDirectPattern) {
    for (double mass : {250.0, 1234.0, 4321.0, 9000.0}) {
        double direct[varnex::numeric::kTabulatedIsotopes];
        varnex::numeric::AveraginePattern(mass, direct, varnex::numeric::kTabulatedIsotopes);
        const float* tabulated = varnex::numeric::TabulatedAveragine(mass);
        for (int i = 0; i < varnex::numeric::kTabulatedIsotopes; ++i) {
            EXPECT_NEAR(tabulated[i], direct[i], 0.01) << mass << " Da, isotope " << i;
        }
    }
    // Beyond the table and below zero: the end entries, never out of bounds.
    EXPECT_NE(varnex::numeric::TabulatedAveragine(1e9), nullptr);
    EXPECT_FLOAT_EQ(varnex::numeric::TabulatedAveragine(-5.0)[0], 1.0f);
}

TEST(Averagine, IsotopeStepsAreSymmetricAndNarrowAfterTheFirst) {
    EXPECT_DOUBLE_EQ(varnex::numeric::IsotopeOffset(0), 0.0);
    EXPECT_DOUBLE_EQ(varnex::numeric::IsotopeOffset(-2), -varnex::numeric::IsotopeOffset(2));
    const double first = varnex::numeric::IsotopeOffset(1);
    const double second = varnex::numeric::IsotopeOffset(2) - first;
    EXPECT_GT(first, second);
    EXPECT_NEAR(first, 1.0029, 0.0005);
}

} // namespace
