#include "Simulator.h"

#include <atomic>

#include "HostDateTime.h"
#include "host/readmap/MapAccess.h"

namespace host {

Simulator::Simulator(Plant& plant, uint32_t seed) {
    const auto& tags = plant.Io().Tags();
    drivers_.reserve(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        drivers_.emplace_back(*tags[i].Spec, seed + static_cast<uint32_t>(i));
        records_.push_back(tags[i].Record);
    }
    for (const SystemRecords::Unit& unit : plant.System().Units()) {
        if (unit.Spec->OfflineEveryMs > 0) {
            offline_.push_back({unit.ConnectState, unit.Spec->ConnectState,
                                std::chrono::milliseconds(unit.Spec->OfflineEveryMs),
                                std::chrono::milliseconds(unit.Spec->OfflineForMs)});
        }
    }
    batch_.reserve(drivers_.size());
}

Simulator::~Simulator() {
    Stop();
}

void Simulator::Start() {
    if (thread_.joinable()) {
        return;
    }
    start_ = Clock::now();
    for (std::size_t i = 0; i < drivers_.size(); ++i) {
        schedule_.push({start_, i});
    }
    for (std::size_t i = 0; i < offline_.size(); ++i) {
        schedule_.push({start_ + offline_[i].Every - offline_[i].For, drivers_.size() + i});
    }
    stopping_ = false;
    kelvane::readmap::SetMapOpenedEvent(
        kelvane::readmap::MapOpenedEvent::bind<&Simulator::OnMapOpened>(this));
    thread_ = std::thread(&Simulator::Run, this);
}

void Simulator::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    kelvane::readmap::SetMapOpenedEvent({});
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    schedule_ = {};
}

uint64_t Simulator::HeadersWritten() const {
    std::lock_guard lock(lock_);
    return headersWritten_;
}

void Simulator::OnMapOpened() {
    {
        std::lock_guard lock(lock_);
        mapOpened_ = true;
    }
    wake_.notify_all();
}

void Simulator::Run() {
    std::unique_lock lock(lock_);
    while (!stopping_) {
        if (mapOpened_) {
            // A fresh map has no values yet: give it every tag's value now.
            mapOpened_ = false;
            lock.unlock();
            const auto now = Clock::now();
            const double timeStamp = HostDateTime(std::chrono::system_clock::now());
            for (std::size_t i = 0; i < drivers_.size(); ++i) {
                batch_.push_back(
                    {records_[i],
                     drivers_[i].Next(
                         std::chrono::duration_cast<std::chrono::milliseconds>(now - start_),
                         timeStamp)});
            }
            WriteBatch();
            lock.lock();
            continue;
        }
        const auto woken = [this] { return stopping_ || mapOpened_; };
        if (schedule_.empty()) {
            wake_.wait(lock, woken);
            continue;
        }
        if (wake_.wait_until(lock, schedule_.top().When, woken)) {
            continue;
        }
        lock.unlock();
        const auto now = Clock::now();
        const double timeStamp = HostDateTime(std::chrono::system_clock::now());
        while (!schedule_.empty() && schedule_.top().When <= now) {
            const Due due = schedule_.top();
            schedule_.pop();
            Handle(due, now, timeStamp);
        }
        WriteBatch();
        lock.lock();
    }
}

void Simulator::Handle(const Due& due, Clock::time_point now, double timeStamp) {
    Clock::duration next{};
    if (due.Event < drivers_.size()) {
        TagDriver& driver = drivers_[due.Event];
        batch_.push_back(
            {records_[due.Event],
             driver.Next(std::chrono::duration_cast<std::chrono::milliseconds>(now - start_),
                         timeStamp)});
        next = std::chrono::milliseconds(driver.Spec().Drive.ScanMs);
    } else {
        OfflineUnit& unit = offline_[due.Event - drivers_.size()];
        unit.Offline = !unit.Offline;
        // Plug-ins read the state on their own threads: atomic stores keep each read whole.
        std::atomic_ref<int32_t>(*unit.ConnectState)
            .store(unit.Offline ? 0 : unit.OnlineState, std::memory_order_relaxed);
        next = unit.Offline ? unit.For : unit.Every - unit.For;
    }
    // A simulation that fell behind skips the missed values rather than catching up.
    schedule_.push({std::max(due.When + next, now), due.Event});
}

void Simulator::WriteBatch() {
    const std::size_t written = kelvane::readmap::WriteHeaders(batch_.data(), batch_.size());
    batch_.clear();
    std::lock_guard lock(lock_);
    headersWritten_ += written;
}

}  // namespace host
