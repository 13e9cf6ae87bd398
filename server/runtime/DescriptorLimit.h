// The process's open-file limit must leave room for every connection the listener may serve.
#pragma once

#include <cstddef>

namespace daq {

// Descriptors the process keeps besides its connections (host files, trace, pipes, threads).
inline constexpr std::size_t kReservedDescriptors = 64;

// Raises the soft RLIMIT_NOFILE to connections + kReservedDescriptors, at most to the hard
// limit; never lowers it. Traces when the hard limit is too low for the connections.
void raiseDescriptorLimit(std::size_t connections);

}  // namespace daq
