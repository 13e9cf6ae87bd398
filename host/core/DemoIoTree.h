// The IO tree of the demo project: a water works' tags in groups by plant area, with drives that
// keep their values moving.
#pragma once

#include <cstdint>
#include <vector>

#include "host/core/ProjectModel.h"

namespace host {

// Data type codes of the host used by the demo.
inline constexpr int32_t kFloat = 5;
inline constexpr int32_t kInteger = 3;
inline constexpr int32_t kTextData = -1;

std::vector<IoNode> demoIoTree();

}  // namespace host
