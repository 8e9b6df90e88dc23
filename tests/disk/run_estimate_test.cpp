#include "disk/run_estimate.h"

#include <gtest/gtest.h>

namespace kestra::disk {
namespace {

TEST(RunEstimateTest, AddsTheRunsOwnTimeToEachTransferAtItsRate) {
    platform::DeviceRates rates;
    rates.readBytesPerSecond = 100e6;
    rates.writeBytesPerSecond = 20e6;
    rates.barrierSeconds = 0.004;
    const RunEstimate e = EstimateRun({300'000'000, 50'000'000, 1000}, rates, 1.5);
    EXPECT_DOUBLE_EQ(e.processing, 1.5);
    EXPECT_DOUBLE_EQ(e.reading, 3.0);
    EXPECT_DOUBLE_EQ(e.writing, 2.5);
    EXPECT_DOUBLE_EQ(e.barriers, 4.0);
    EXPECT_DOUBLE_EQ(e.Total(), 11.0);

    // Of the 50 MB written, 10 MB fill holes of a sparse image, at their own rate.
    rates.fillBytesPerSecond = 5e6;
    EXPECT_DOUBLE_EQ(EstimateRun({0, 50'000'000, 0, 10'000'000}, rates, 0).writing, 4.0);
    // 2000 separate writes at half a millisecond each beyond the barriers.
    rates.writeSeconds = 0.0005;
    EXPECT_DOUBLE_EQ(EstimateRun({0, 0, 0, 0, 2000}, rates, 0).Total(), 1.0);

    // Nothing measured, and a dry run whose reads took longer than the clock saw.
    const RunEstimate none = EstimateRun({1, 1, 1}, platform::DeviceRates{}, -0.2);
    EXPECT_DOUBLE_EQ(none.Total(), 0.0);
}

TEST(RunEstimateTest, DurationsReadAsAPersonWouldSayThem) {
    EXPECT_EQ(DurationText(0.04), "0.0 s");
    EXPECT_EQ(DurationText(4.26), "4.3 s");
    EXPECT_EQ(DurationText(42.4), "42 s");
    EXPECT_EQ(DurationText(185.2), "3 min 05 s");
    EXPECT_EQ(DurationText(7620), "2 h 07 min");
    EXPECT_EQ(DurationText(-1), "0.0 s");
}

}  // namespace
}  // namespace kestra::disk
