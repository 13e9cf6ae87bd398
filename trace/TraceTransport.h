// Where trace messages go: a Unix datagram socket that the trace viewer binds.
//
// The path is KELVANE_TRACE_SOCKET when set, else $XDG_RUNTIME_DIR/kelvane-trace.sock, else
// /tmp/kelvane-trace-<uid>.sock. The channel reads it at its first message; call
// traceReloadSocketPath() after changing the variable (tests do).
//
// Sends never block: with no viewer, or a viewer whose queue is full, the message is dropped.
// After a send finds nobody listening, the channel watches the socket's directory and does not
// try again until a socket appears there, so a trace without a viewer costs no socket call; a
// viewer started or restarted later receives the next message.
#pragma once

#include <cstddef>
#include <string>

// The socket path that the environment selects (the rule above).
std::string traceSocketPath();

// Re-reads the socket path from the environment and forgets what is known about the viewer.
void traceReloadSocketPath();

namespace trace_detail {

// Whether a viewer may be listening. Cheap when none is: no socket call.
bool viewerMayListen();

// Sends one datagram to the viewer without blocking; a viewer that is gone is forgotten.
void sendToViewer(const char* data, std::size_t size);

}  // namespace trace_detail
