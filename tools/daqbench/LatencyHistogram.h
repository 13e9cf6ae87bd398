// Latency histogram with log-linear buckets: exact below 32 ns, then 32 buckets per power of
// two, so a reported percentile is within 1/32 (3.1 %) of the true value at any scale. Fixed
// size, no allocation while recording; one per load thread, merged at the end.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace daqbench {

class LatencyHistogram {
  public:
    static constexpr int kSubBucketBits = 5;
    static constexpr std::size_t kSubBuckets = std::size_t{1} << kSubBucketBits;
    // Groups of kSubBuckets: the exact group, then one per power of two up to 2^63.
    static constexpr std::size_t kBuckets = (64 - kSubBucketBits + 1) * kSubBuckets;

    void record(std::uint64_t nanoseconds);
    void merge(const LatencyHistogram& other);

    std::uint64_t count() const { return count_; }
    std::uint64_t min() const { return count_ == 0 ? 0 : min_; }
    std::uint64_t max() const { return max_; }
    double mean() const;
    // The value below or at which `percent` % of the recorded values lie: the highest value of
    // the bucket that holds that rank, never above the largest value recorded. 0 when empty.
    std::uint64_t percentile(double percent) const;

    static std::size_t bucketOf(std::uint64_t value);
    // The smallest and the largest value a bucket holds.
    static std::uint64_t bucketLowest(std::size_t bucket);
    static std::uint64_t bucketHighest(std::size_t bucket);

  private:
    std::array<std::uint64_t, kBuckets> counts_{};
    std::uint64_t count_ = 0;
    std::uint64_t min_ = UINT64_MAX;
    std::uint64_t max_ = 0;
    long double sum_ = 0;
};

}  // namespace daqbench
