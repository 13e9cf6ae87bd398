#include "tools/daqbench/LatencyHistogram.h"

#include <algorithm>
#include <bit>
#include <cmath>

namespace daqbench {

std::size_t LatencyHistogram::bucketOf(std::uint64_t value) {
    if (value < kSubBuckets) {
        return static_cast<std::size_t>(value);
    }
    const int exponent = std::bit_width(value) - 1;  // >= kSubBucketBits
    const int shift = exponent - kSubBucketBits;
    const std::size_t group = static_cast<std::size_t>(shift) + 1;
    const std::size_t sub = static_cast<std::size_t>(value >> shift) - kSubBuckets;
    return group * kSubBuckets + sub;
}

std::uint64_t LatencyHistogram::bucketLowest(std::size_t bucket) {
    const std::size_t group = bucket / kSubBuckets;
    const std::uint64_t sub = bucket % kSubBuckets;
    if (group == 0) {
        return sub;
    }
    return (kSubBuckets + sub) << (group - 1);
}

std::uint64_t LatencyHistogram::bucketHighest(std::size_t bucket) {
    return bucket + 1 == kBuckets ? UINT64_MAX : bucketLowest(bucket + 1) - 1;
}

void LatencyHistogram::record(std::uint64_t nanoseconds) {
    ++counts_[bucketOf(nanoseconds)];
    ++count_;
    min_ = std::min(min_, nanoseconds);
    max_ = std::max(max_, nanoseconds);
    sum_ += static_cast<long double>(nanoseconds);
}

void LatencyHistogram::merge(const LatencyHistogram& other) {
    for (std::size_t i = 0; i < kBuckets; ++i) {
        counts_[i] += other.counts_[i];
    }
    count_ += other.count_;
    min_ = std::min(min_, other.min_);
    max_ = std::max(max_, other.max_);
    sum_ += other.sum_;
}

double LatencyHistogram::mean() const {
    return count_ == 0 ? 0.0 : static_cast<double>(sum_ / static_cast<long double>(count_));
}

std::uint64_t LatencyHistogram::percentile(double percent) const {
    if (count_ == 0) {
        return 0;
    }
    const double wanted =
        std::ceil(std::clamp(percent, 0.0, 100.0) / 100.0 * static_cast<double>(count_));
    const std::uint64_t rank = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(wanted));
    std::uint64_t seen = 0;
    for (std::size_t i = 0; i < kBuckets; ++i) {
        seen += counts_[i];
        if (seen >= rank) {
            return std::clamp(bucketHighest(i), min_, max_);
        }
    }
    return max_;
}

}  // namespace daqbench
