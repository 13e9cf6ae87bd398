// Moves one tag's value the way its project says (sine, ramp, random walk, value-list cycle,
// text messages) and produces the current-value blocks the host writes into map headers.
#pragma once

#include <chrono>
#include <cstddef>
#include <random>

#include "host/core/ProjectModel.h"
#include "kelvane/IORecords.h"

namespace host {

class TagDriver {
  public:
    // Keeps a reference to `spec`, which must outlive the driver.
    TagDriver(const TagSpec& spec, uint32_t seed);
    TagDriver(TagSpec&&, uint32_t) = delete;

    // The next value at `elapsed` since the simulation began, stamped with timeStamp (host
    // date-time). Random walks, cycles and messages move one step per call.
    kelvane::TCurrentValue next(std::chrono::milliseconds elapsed, double timeStamp);
    const TagSpec& spec() const { return spec_; }

  private:
    double numericValue(std::chrono::milliseconds elapsed);
    std::string valueText(double value) const;

    const TagSpec& spec_;
    std::minstd_rand random_;
    double walk_;
    std::size_t step_ = 0;
};

}  // namespace host
