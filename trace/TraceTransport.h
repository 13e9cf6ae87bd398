// Where trace messages go: a Unix datagram socket that the trace viewer binds.
//
// The path is KELVANE_TRACE_SOCKET when set, else $XDG_RUNTIME_DIR/kelvane-trace.sock, else
// /tmp/kelvane-trace-<uid>/trace.sock. The channel reads it at its first message; call
// traceReloadSocketPath() after changing the variable (tests do).
//
// Traces tell who logged in and what was written, so they go only to a socket of this user in a
// private directory: a real directory (not a symbolic link) of this user that neither its group
// nor others can write, where nobody else can put a socket. The channel checks the directory
// when it reads the path and again, with the socket's owner, before it sends to a viewer that
// has come; a directory that fails the check (such as /tmp itself, or one that another user made
// first) gets no message from this channel until the path is read again. The default directory
// is made, mode 0700, by whichever comes first, the channel or the viewer.
//
// Beside the socket lies the viewer generation file "<socket path>.gen" (see ViewerGeneration.h):
// mode 0600, never removed; every viewer that binds the socket increments the counter in it. The
// channel creates the file when it reads the socket path and finds none, as a viewer would.
//
// Sends never block: with no viewer the message goes nowhere; a viewer whose queue is full is
// waited for by the sender thread alone (TraceSender.h).
// After a send finds nobody listening, the channel does not try again until a viewer may have
// come: it compares the mapped counter with the last value seen, a memory load per message. Only
// when the file can be neither created nor used (the directory is not writable, or the path holds
// something else) does it watch the socket's directory instead, one non-blocking read of an
// inotify descriptor per message. Either way a viewer started or restarted later receives the
// next message.
//
// A viewer must increment the counter once bound: a socket bound without doing so is noticed
// only by a sender that has not yet found it absent.
#pragma once

#include <cstddef>
#include <string>

namespace daq {

// While no viewer listens and the generation file is in use, the channel checks once per this
// many messages that the path still names the mapped file: a file removed (by a cleaner of old
// files in /tmp, say) and created anew by a later viewer is noticed within this many messages.
inline constexpr unsigned kTraceGenerationFileCheckInterval = 1000;

// The socket path that the environment selects (the rule above).
std::string traceSocketPath();

enum class TraceDirectory {
    Private,  // fit for the trace socket
    Missing,
    Unsafe,  // not a directory, a symbolic link, of another user, or writable by others
};

// Checks the directory of `socketPath` by the rule above; makes the default directory first when
// it is missing.
TraceDirectory prepareTraceDirectory(const std::string& socketPath);

// Re-reads the socket path from the environment and forgets what is known about the viewer.
void traceReloadSocketPath();

// For the channel (Trace.cpp, TraceSender.cpp):

// Whether a viewer may be listening. Cheap when none is: no socket call, and no system call at
// all while the generation file is in use. Never waits for the sender thread: while it sends,
// a viewer is taken to be there.
bool viewerMayListen();

// Makes the channel's transport, so that whatever is made after it (the sender's queue) is
// destroyed before it.
void prepareTraceTransport();

struct TraceDatagram {
    const char* data;
    std::size_t size;  // the terminating zero included
};

// Sends up to kTraceBatchMessages datagrams to the viewer in one system call, without blocking.
// Returns how many are done with: sent, or gone to nobody when no viewer of ours listens (the
// channel then waits for one, see above); 0 while the viewer's queue is full.
std::size_t sendBatchToViewer(const TraceDatagram* messages, std::size_t count);

}  // namespace daq
