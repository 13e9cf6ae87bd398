// Bounds on what a project file may hold; each is a setting with the default below.
#pragma once

#include <cstddef>

namespace host {

struct ProjectLimits {
    std::size_t MaxFileBytes = 64u << 20;  // 64 MiB
    std::size_t MaxTags = 1'000'000;
    std::size_t MaxGroups = 100'000;
    std::size_t MaxUnits = 10'000;
    std::size_t MaxParametersPerUnit = 10'000;
    std::size_t MaxNamedValuesPerTag = 10'000;
    std::size_t MaxItemsPerParameter = 10'000;
    std::size_t MaxMessagesPerTag = 10'000;
    std::size_t MaxUsers = 10'000;
    int MaxTreeDepth = 32;  // nesting of groups, and of units
};

}  // namespace host
