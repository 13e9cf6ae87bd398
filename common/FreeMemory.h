// How freed heap memory goes back to the system.
#pragma once

#include <cstddef>

namespace daq {

// Blocks of at least `bytes` come straight from the system and go back to it when freed. By
// default the allocator raises that threshold to the largest block freed so far and serves
// such blocks from the heaps of its threads, which keep the memory: a server that built a few
// large answers would hold their size for ever, for every IO thread. Process-wide.
void serveLargeBlocksFromTheSystem(std::size_t bytes);

}  // namespace daq
