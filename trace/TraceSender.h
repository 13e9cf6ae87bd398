// Takes sending off the threads that trace: a trace call copies its message into one queue and
// returns; a sender thread of the channel hands the queue to the viewer in batches (one system
// call for up to kTraceBatchMessages messages). Messages leave in the order they were queued.
//
// The queue holds at most KELVANE_TRACE_QUEUE_BYTES bytes (default 4 MiB, 64 KiB..1 GiB; another
// value gives the default; read with the socket path). While the viewer cannot keep up the sender
// waits for it, at most kTraceViewerStallMs at a time, and a message that finds the queue full is
// dropped; the next message that gets through is preceded by one line "<n> messages dropped". The
// sender thread starts with the first message and sleeps while nothing comes.
#pragma once

#include <cstddef>

namespace daq {

inline constexpr std::size_t kTraceBatchMessages = 64;
inline constexpr int kTraceViewerStallMs = 100;
inline constexpr std::size_t kDefaultTraceQueueBytes = 4u << 20;

// Queues one message (`size` bytes, its terminating zero included). Never waits for the viewer.
void postToViewer(const char* data, std::size_t size);

// Returns when every message queued before the call has been sent or dropped.
void flushTraceQueue();

// Reads KELVANE_TRACE_QUEUE_BYTES again (traceReloadSocketPath does, after a flush).
void reloadTraceQueueSettings();

}  // namespace daq
