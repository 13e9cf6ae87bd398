// The unfinished-input and idle time-outs and the idle reports of one activation: a single
// periodic timer walks the live connections, closes those past a time-out and reports those
// that have become idle.
//
// One sweep per server rather than a timer per connection: a connection then only stamps the
// time of each read into an atomic (no timer re-armed, no lock on the timer queue on every
// read, no timer object per idle connection), and a sweep of 10 000 connections compares that
// many stamps. The price is a close up to one sweep period after the time-out ran out.
#pragma once

#include <chrono>
#include <memory>

#include <asio/steady_timer.hpp>
#include <asio/strand.hpp>

#include "server/tcp/TcpServer.h"

namespace daq::tcp {

struct TcpActivation;

class TimeoutSweep : public std::enable_shared_from_this<TimeoutSweep> {
  public:
    // The sweep's period: the settings' longest period or the idle delay, or a quarter of the
    // shortest enabled time-out when that is shorter.
    static std::chrono::milliseconds period(const TcpServerSettings& settings);

    explicit TimeoutSweep(std::shared_ptr<TcpActivation> activation);

    void start();
    // Cancels the timer; no sweep runs after the stop has run on the sweep's strand.
    void stop();

  private:
    void armNext();
    void sweep();

    std::shared_ptr<TcpActivation> activation_;
    asio::strand<asio::io_context::executor_type> strand_;
    asio::steady_timer timer_;
    const std::chrono::milliseconds period_;
    bool stopped_ = false;  // strand only
};

}  // namespace daq::tcp
