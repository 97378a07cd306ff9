// SPDX-License-Identifier: GPL-3.0-or-later
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "model/SurveyScanTimes.h"

using varnex::model::SurveyScanTimes;

namespace {

// The survey-scan pass's walk: stop at the first survey scan the run's time is not at or after.
std::size_t WalkNotAtOrBefore(const std::vector<float>& times, float rt) {
    for (std::size_t s = 1; s <= times.size(); ++s) {
        if (rt < times[s - 1] || std::isunordered(rt, times[s - 1])) {
            return s;
        }
    }
    return times.size() + 1;
}

// The charge-state pass's walk: stop at the first survey scan strictly later than the run.
std::size_t WalkStrictlyLater(const std::vector<float>& times, float rt) {
    for (std::size_t s = 1; s <= times.size(); ++s) {
        if (times[s - 1] > rt) {
            return s;
        }
    }
    return times.size() + 1;
}

} // namespace

TEST(SurveyScanTimes, SearchesAnswerAsTheScanByScanWalks) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    std::mt19937 random(99);
    for (int round = 0; round < 5000; ++round) {
        const int count = std::uniform_int_distribution<int>(0, 12)(random);
        const bool sorted = round % 2 == 0;
        std::vector<float> times;
        float t = 0.0f;
        for (int i = 0; i < count; ++i) {
            const int kind = std::uniform_int_distribution<int>(0, 19)(random);
            if (kind == 0) {
                times.push_back(nan);
            } else if (sorted) {
                t += static_cast<float>(std::uniform_int_distribution<int>(0, 2)(random)) * 0.5f;
                times.push_back(t);
            } else {
                times.push_back(static_cast<float>(std::uniform_int_distribution<int>(-1, 6)(random)) * 0.5f);
            }
        }
        const SurveyScanTimes survey(times);
        for (const float rt : {-1.0f, 0.0f, 0.25f, 0.5f, 1.0f, 1.5f, 2.0f, 3.0f, 7.0f, nan, inf, -inf}) {
            ASSERT_EQ(survey.FirstNotAtOrBefore(rt), WalkNotAtOrBefore(times, rt))
                << "round " << round << " rt " << rt;
            ASSERT_EQ(survey.FirstStrictlyLater(rt), WalkStrictlyLater(times, rt))
                << "round " << round << " rt " << rt;
        }
    }
}

TEST(SurveyScanTimes, SurveyScanAtTheRunsTimeCountsAsBeforeIt) {
    const SurveyScanTimes survey({0.0f, 0.5f, 1.0f});
    EXPECT_EQ(survey.FirstNotAtOrBefore(0.5f), 3u);
    EXPECT_EQ(survey.FirstStrictlyLater(0.5f), 3u);
    EXPECT_EQ(survey.FirstNotAtOrBefore(-0.1f), 1u);
    EXPECT_EQ(survey.FirstNotAtOrBefore(2.0f), 4u);
}
