// One accepted connection: a read loop, a write queue with one write in flight, and a close
// that lets queued output go first. Every socket operation runs on the connection's strand
// (the socket's executor), so the connection's events never overlap.
//
// Writes are sent from the strand with a non-blocking send as soon as they can be: what a
// connection's own handlers write for one read goes out when they return (or as soon as it
// passes kFlushBytes), on the same thread (no hand-over to another IO thread, no completion
// round trip); only what the socket does not take at once waits for the reactor. Sent buffers
// up to keptWriteBufferBytes are kept for the next write, so a connection that answers request
// after request stops allocating; an idle connection gives them back.
//
// Back-pressure: while more than a quarter of the backlog bound is queued, the rest of a read is
// not handed to the data event and the socket is not read, so a client that pipelines
// requests without reading holds at most that much plus one answer.
//
// A TLS connection runs the same way over an SSL stream on its socket, except that writes always
// go through the stream asynchronously, one at a time. Its handshake comes first, bounded by the
// sweep; the connect event follows only once it succeeded, and a failed one reaches none of the
// owner's events but onException. Its close sends a close_notify first, bounded by the drain
// time-out.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include "server/tcp/TcpConnection.h"
#include "server/tcp/TlsContext.h"

namespace asio::ssl {
template <typename Stream>
class stream;
}

namespace daq::tcp {

struct TcpActivation;

class TcpSession final : public TcpConnection, public std::enable_shared_from_this<TcpSession> {
  public:
    // `socket` must be bound to a strand of the activation's io_context. With a TLS context,
    // the connection is served over TLS.
    TcpSession(std::shared_ptr<TcpActivation> activation, asio::ip::tcp::socket socket,
               std::uint64_t id, TlsContextPtr tls = nullptr);
    ~TcpSession() override;

    // Runs the TLS handshake, if any, then reports the connect and starts reading, on the
    // strand.
    void start();

    std::uint64_t id() const override { return id_; }
    const std::string& peerAddress() const override { return peerAddress_; }
    std::uint16_t peerPort() const override { return peerPort_; }
    void write(std::string_view bytes) override;
    void close() override;
    bool connected() const override;
    void setUserData(std::shared_ptr<void> data) override;
    std::shared_ptr<void> userData() const override;
    void setInputPending(bool pending) override;

    // Any thread: whether the sweep has something to do for this connection at `now`: a
    // time-out that has run out, or an idle report that is due.
    bool sweepDue(std::chrono::steady_clock::time_point now) const;
    // Does that on the strand, where input that arrived meanwhile counts: closes a connection
    // past a time-out, reporting why, or reports it idle and gives back its spare memory.
    void sweep();

  private:
    using Clock = std::chrono::steady_clock;
    enum class Timeout { None, Idle, UnfinishedInput, Handshake };
    Timeout expiredTimeout(Clock::time_point now) const;
    bool idleDue(Clock::time_point now) const;
    Clock::time_point now() const;
    static Clock::rep stamp(Clock::time_point time) { return time.time_since_epoch().count(); }

    // Strand only, from here on.
    void connectAndRead();
    void onHandshake(const std::error_code& error);
    void readNext();
    void readTls();
    void onRead(const std::error_code& error, std::size_t length);
    // Hands the rest of the last read to the data event, message by message, until it is all
    // taken or the queued output is over a quarter of the backlog bound (then it waits for the
    // writes to drain); then reads again, or closes after the output when the client's input ended.
    void deliverInput();
    struct Output {
        std::size_t queued;  // bytes not yet taken by the socket
        bool closing;
    };
    Output outputState() const;
    // The client ended its input: what it sent has been served; close once it has the answers.
    void endOfInput();
    void reportIdle();
    // Sends what handlers queued on this thread.
    void flush();
    // Sends the queue's front buffers while the socket takes them, then hands what is left to
    // the reactor.
    void writeNext();
    // Sends the queue's front buffer through the TLS stream.
    void writeTls(const std::string& front);
    void onWritten(const std::error_code& error, std::size_t length);
    // The queue's front buffer has gone out (or failed): drops it, keeping its memory for a
    // later write, and closes a draining connection. True when more is queued.
    bool finishFront(const std::error_code& error);
    void closeWhenDrained();
    // Nothing is left to send: closes, after a close_notify on a TLS connection.
    void closeDrained();
    void sendCloseNotify();
    void armDrainTimer();
    // Closes the draining connection unless the peer took some output since the last look.
    void onDrainTimer();
    // Queued bytes and those in the kernel's send buffer.
    std::size_t bytesLeftToSend();
    // Unfinished input held from now on.
    void restartPendingClock();
    void abort(const std::exception& reason);
    void closeSocket();
    void finish(const std::error_code& error);
    template <class Handler>
    void runHandler(const Handler& handler);

    // Declared first: the socket and the timer must go before the io_context they use.
    std::shared_ptr<TcpActivation> activation_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer drainTimer_;
    // With TLS: the context this connection began with, and the stream over socket_.
    const TlsContextPtr tlsContext_;
    std::unique_ptr<asio::ssl::stream<asio::ip::tcp::socket&>> tls_;
    const std::uint64_t id_;
    std::string peerAddress_;
    std::uint16_t peerPort_ = 0;
    // Left uninitialised: an idle connection's buffer costs no memory until bytes arrive, and
    // then only the pages they fill.
    std::unique_ptr<char[]> readBuffer_;
    // Strand only: the part of readBuffer_ that the data event has not taken yet.
    std::size_t inputAt_ = 0;
    std::size_t inputEnd_ = 0;
    bool readPending_ = false;    // strand only: an asynchronous read is under way
    bool inputPaused_ = false;    // strand only: waiting for the queued output to drain
    bool inputEnded_ = false;     // strand only: the client shut down its sending side
    bool socketClosed_ = false;   // strand only
    bool finished_ = false;       // strand only: the disconnect has been reported
    bool connected_ = false;      // strand only: the connect has been reported
    bool tlsClosing_ = false;     // strand only: the close_notify is on its way
    std::size_t drainLeft_ = 0;   // strand only: bytes left to send at the last drain look
    std::size_t pausedLeft_ = 0;  // strand only: the same, at the last time-out look while paused
    // Strand only: when the current data event began (the read, or its resumption).
    Clock::rep eventAt_ = 0;
    bool flushDue_ = false;      // strand only: a handler queued the first write
    std::size_t frontSent_ = 0;  // strand only: bytes of the queue's front already sent
    // Written on the strand, read by the sweep: when the last bytes arrived (or the connection
    // was accepted), when input became pending (kNotPending: none is), and whether the
    // connection has been reported idle since its last input.
    static constexpr Clock::rep kNotPending = Clock::duration::max().count();
    std::atomic<Clock::rep> lastInputAt_;
    std::atomic<Clock::rep> pendingSince_{kNotPending};
    std::atomic<bool> idleReported_{false};
    // Written on the strand, read by the sweep: when the TLS handshake began (kNotPending:
    // none is under way).
    std::atomic<Clock::rep> handshakeSince_{kNotPending};

    mutable std::mutex mutex_;       // guards the members below; never held across a socket call
    std::deque<std::string> queue_;  // front: the write in flight
    std::string spare_;              // the last sent buffer, reused by the next write
    std::size_t backlog_ = 0;
    bool writing_ = false;
    bool closing_ = false;
    std::shared_ptr<void> userData_;
};

}  // namespace daq::tcp
