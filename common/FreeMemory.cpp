#include "common/FreeMemory.h"

#include <malloc.h>

#include <algorithm>
#include <climits>

namespace daq {

void serveLargeBlocksFromTheSystem(std::size_t bytes) {
    ::mallopt(M_MMAP_THRESHOLD, static_cast<int>(std::min<std::size_t>(bytes, INT_MAX)));
}

}  // namespace daq
