// One accepted connection: a read loop, a write queue with one write in flight, and a close
// that lets queued output go first. Every socket operation runs on the connection's strand
// (the socket's executor), so the connection's events never overlap.
//
// Writes are sent from the strand with a non-blocking send as soon as they can be: what a
// connection's own handler writes goes out when the handler returns, on the same thread (no
// hand-over to another IO thread, no completion round trip); only what the socket does not
// take at once waits for the reactor. Sent buffers are kept for the next write, so a
// connection that answers request after request stops allocating.
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

#include "server/tcp/tcp_connection.h"

namespace daq::tcp {

struct TcpActivation;

class TcpSession final : public TcpConnection, public std::enable_shared_from_this<TcpSession> {
  public:
    // `socket` must be bound to a strand of the activation's io_context.
    TcpSession(std::shared_ptr<TcpActivation> activation, asio::ip::tcp::socket socket,
               std::uint64_t id);

    // Reports the connect and starts reading, on the strand.
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

    // Any thread: whether an enabled time-out of the server has run out at `now`.
    bool timedOut(std::chrono::steady_clock::time_point now) const;
    // Closes the connection, reporting why, when a time-out has run out by the time this runs
    // on the strand (input that arrived meanwhile counts).
    void closeIfTimedOut();

  private:
    using Clock = std::chrono::steady_clock;
    enum class Timeout { None, Idle, UnfinishedInput };
    Timeout expiredTimeout(Clock::time_point now) const;

    // Strand only, from here on.
    void readNext();
    void onRead(const std::error_code& error, std::size_t length);
    // Sends the queue's front buffers while the socket takes them, then hands what is left to
    // the reactor.
    void writeNext();
    void onWritten(const std::error_code& error);
    // The queue's front buffer has gone out (or failed): drops it, keeping its memory for a
    // later write, and closes a draining connection. True when more is queued.
    bool finishFront(const std::error_code& error);
    void closeWhenDrained();
    void abort(const std::exception& reason);
    void closeSocket();
    void finish(const std::error_code& error);
    template <class Handler>
    void runHandler(const Handler& handler);

    // Declared first: the socket and the timer must go before the io_context they use.
    std::shared_ptr<TcpActivation> activation_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer drainTimer_;
    const std::uint64_t id_;
    std::string peerAddress_;
    std::uint16_t peerPort_ = 0;
    // Left uninitialised: an idle connection's buffer costs no memory until bytes arrive, and
    // then only the pages they fill.
    std::unique_ptr<char[]> readBuffer_;
    bool socketClosed_ = false;       // strand only
    bool flushAfterHandler_ = false;  // strand only: a handler queued the first write
    std::size_t frontSent_ = 0;       // strand only: bytes of the queue's front already sent
    // Written on the strand, read by the time-out sweep: when the last bytes arrived (or the
    // connection was accepted), and when input became pending (kNotPending: none is).
    static constexpr Clock::rep kNotPending = Clock::duration::max().count();
    std::atomic<Clock::rep> lastInputAt_;
    std::atomic<Clock::rep> pendingSince_{kNotPending};

    mutable std::mutex mutex_;       // guards the members below; never held across a socket call
    std::deque<std::string> queue_;  // front: the write in flight
    std::string spare_;              // the last sent buffer, reused by the next write
    std::size_t backlog_ = 0;
    bool writing_ = false;
    bool closing_ = false;
    std::shared_ptr<void> userData_;
};

}  // namespace daq::tcp
