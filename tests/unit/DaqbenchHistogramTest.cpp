// The load generator's latency histogram: bucket layout, percentiles and merging.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>

#include "tools/daqbench/LatencyHistogram.h"

namespace {

using daqbench::LatencyHistogram;

TEST(DaqbenchHistogram, BucketsCoverEveryValueWithoutGapsWithinOneThirtySecond) {
    for (std::size_t b = 0; b + 1 < LatencyHistogram::kBuckets; ++b) {
        ASSERT_EQ(LatencyHistogram::bucketHighest(b) + 1, LatencyHistogram::bucketLowest(b + 1))
            << "bucket " << b;
        const std::uint64_t lowest = LatencyHistogram::bucketLowest(b);
        const std::uint64_t width = LatencyHistogram::bucketHighest(b) - lowest + 1;
        if (lowest >= 32) {  // below, every value has its own bucket
            ASSERT_LE(width, lowest / 32) << "bucket " << b;
        }
    }
    EXPECT_EQ(LatencyHistogram::bucketOf(UINT64_MAX), LatencyHistogram::kBuckets - 1);

    std::mt19937_64 random(7);
    for (int i = 0; i < 100000; ++i) {
        const std::uint64_t value = random() >> (random() % 64);
        const std::size_t bucket = LatencyHistogram::bucketOf(value);
        ASSERT_LE(LatencyHistogram::bucketLowest(bucket), value);
        ASSERT_GE(LatencyHistogram::bucketHighest(bucket), value);
    }
    for (std::uint64_t exact = 0; exact < 32; ++exact) {
        EXPECT_EQ(LatencyHistogram::bucketOf(exact), exact);
    }
    EXPECT_EQ(LatencyHistogram::bucketOf(32), 32u);
    EXPECT_EQ(LatencyHistogram::bucketOf(63), 63u);
    EXPECT_EQ(LatencyHistogram::bucketOf(64), 64u);  // two values per bucket from here
    EXPECT_EQ(LatencyHistogram::bucketOf(65), 64u);
}

TEST(DaqbenchHistogram, PercentilesOfAUniformSpreadAreWithinTheBucketPrecision) {
    LatencyHistogram histogram;
    // 1 µs .. 100 ms in 1 µs steps, shuffled: the order must not matter.
    std::vector<std::uint64_t> values;
    for (std::uint64_t us = 1; us <= 100000; ++us) {
        values.push_back(us * 1000);
    }
    std::shuffle(values.begin(), values.end(), std::mt19937(3));
    for (const std::uint64_t value : values) {
        histogram.record(value);
    }
    EXPECT_EQ(histogram.count(), 100000u);
    EXPECT_EQ(histogram.min(), 1000u);
    EXPECT_EQ(histogram.max(), 100000000u);
    EXPECT_DOUBLE_EQ(histogram.mean(), 50000.5 * 1000);
    for (const double percent : {50.0, 90.0, 99.0, 99.9}) {
        const double exact = percent * 1000 * 1000;  // the rank's own value in ns
        const auto reported = static_cast<double>(histogram.percentile(percent));
        EXPECT_GE(reported, exact) << percent;  // the bucket's highest value
        EXPECT_LE(reported, exact * (1 + 1.0 / 32)) << percent;
    }
    EXPECT_EQ(histogram.percentile(100), histogram.max());
    // The lowest rank reports the highest value of the smallest value's bucket.
    EXPECT_EQ(histogram.percentile(0),
              LatencyHistogram::bucketHighest(LatencyHistogram::bucketOf(1000)));
    EXPECT_LE(histogram.percentile(0), 1000u + 1000u / 32);
}

TEST(DaqbenchHistogram, SmallCountsAndClampingToTheRecordedRange) {
    LatencyHistogram histogram;
    EXPECT_EQ(histogram.percentile(50), 0u);
    EXPECT_EQ(histogram.min(), 0u);
    EXPECT_EQ(histogram.mean(), 0.0);

    histogram.record(1000003);  // a bucket that reaches far above it
    EXPECT_EQ(histogram.percentile(50), 1000003u);
    EXPECT_EQ(histogram.percentile(99.9), 1000003u);

    histogram.record(10);
    histogram.record(20);
    histogram.record(30);
    // Ranks: 10, 20, 30, 1000003. p50 is the second, p75 the third, p76 the fourth.
    EXPECT_EQ(histogram.percentile(50), 20u);
    EXPECT_EQ(histogram.percentile(75), 30u);
    EXPECT_EQ(histogram.percentile(76), 1000003u);
}

TEST(DaqbenchHistogram, MergedHistogramsEqualOneThatSawEverything) {
    LatencyHistogram first;
    LatencyHistogram second;
    LatencyHistogram both;
    std::mt19937_64 random(11);
    for (int i = 0; i < 5000; ++i) {
        const std::uint64_t value = random() % 5000000;
        (i % 3 == 0 ? first : second).record(value);
        both.record(value);
    }
    first.merge(second);
    EXPECT_EQ(first.count(), both.count());
    EXPECT_EQ(first.min(), both.min());
    EXPECT_EQ(first.max(), both.max());
    EXPECT_DOUBLE_EQ(first.mean(), both.mean());
    for (const double percent : {1.0, 50.0, 99.0, 99.9, 100.0}) {
        EXPECT_EQ(first.percentile(percent), both.percentile(percent)) << percent;
    }

    LatencyHistogram empty;
    empty.merge(LatencyHistogram{});
    EXPECT_EQ(empty.count(), 0u);
    EXPECT_EQ(empty.min(), 0u);
}

}  // namespace
