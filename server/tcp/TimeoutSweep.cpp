#include "server/tcp/TimeoutSweep.h"

#include <algorithm>

#include <asio/post.hpp>

#include "server/tcp/TcpActivation.h"
#include "server/tcp/TcpSession.h"

namespace daq::tcp {

std::chrono::milliseconds TimeoutSweep::period(const TcpServerSettings& settings) {
    std::chrono::milliseconds result =
        std::max(std::min(settings.timeoutSweepPeriod, settings.idleTrimDelay),
                 std::chrono::milliseconds(1));
    for (const std::chrono::seconds timeout :
         {settings.unfinishedInputTimeout, settings.idleTimeout, settings.tlsHandshakeTimeout}) {
        if (timeout.count() > 0) {
            result = std::min(result, std::chrono::milliseconds(timeout) / 4);
        }
    }
    return result;
}

TimeoutSweep::TimeoutSweep(std::shared_ptr<TcpActivation> activation)
    : activation_(std::move(activation)),
      strand_(asio::make_strand(activation_->io)),
      timer_(strand_),
      period_(period(activation_->settings)) {}

void TimeoutSweep::start() {
    asio::post(strand_, [self = shared_from_this()] { self->armNext(); });
}

void TimeoutSweep::stop() {
    asio::post(strand_, [self = shared_from_this()] {
        self->stopped_ = true;
        self->timer_.cancel();
    });
}

void TimeoutSweep::armNext() {
    if (stopped_) {
        return;
    }
    timer_.expires_after(period_);
    timer_.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (!error) {
            self->sweep();
        }
    });
}

void TimeoutSweep::sweep() {
    const auto now = activation_->settings.clock();
    const auto due = activation_->registry.select(
        [now](const TcpSession& session) { return session.sweepDue(now); });
    // Each connection checks again on its own strand, so input that arrived meanwhile counts.
    for (const auto& session : due) {
        session->sweep();
    }
    armNext();
}

}  // namespace daq::tcp
