// Bounds on what a project file may hold; each is a setting with the default below.
#pragma once

#include <cstddef>

namespace host {

struct ProjectLimits {
    std::size_t maxFileBytes = 64u << 20;  // 64 MiB
    std::size_t maxTags = 1'000'000;
    std::size_t maxGroups = 100'000;
    std::size_t maxUnits = 10'000;
    std::size_t maxParametersPerUnit = 10'000;
    std::size_t maxNamedValuesPerTag = 10'000;
    std::size_t maxItemsPerParameter = 10'000;
    std::size_t maxMessagesPerTag = 10'000;
    std::size_t maxUsers = 10'000;
    int maxTreeDepth = 32;  // nesting of groups, and of units
};

}  // namespace host
