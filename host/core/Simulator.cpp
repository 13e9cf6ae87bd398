#include "host/core/Simulator.h"

#include <atomic>

#include "host/core/HostDateTime.h"
#include "host/readmap/MapAccess.h"

namespace host {

Simulator::Simulator(Plant& plant, uint32_t seed) {
    const auto& tags = plant.io().tags();
    drivers_.reserve(tags.size());
    for (std::size_t i = 0; i < tags.size(); ++i) {
        drivers_.emplace_back(*tags[i].spec, seed + static_cast<uint32_t>(i));
        records_.push_back(tags[i].record);
    }
    for (const SystemRecords::Unit& unit : plant.system().units()) {
        if (unit.spec->offlineEveryMs > 0) {
            offline_.push_back({unit.connectState, unit.spec->connectState,
                                std::chrono::milliseconds(unit.spec->offlineEveryMs),
                                std::chrono::milliseconds(unit.spec->offlineForMs)});
        }
    }
    batch_.reserve(drivers_.size());
}

Simulator::~Simulator() {
    stop();
}

void Simulator::start() {
    if (thread_.joinable()) {
        return;
    }
    start_ = Clock::now();
    for (std::size_t i = 0; i < drivers_.size(); ++i) {
        schedule_.push({start_, i});
    }
    for (std::size_t i = 0; i < offline_.size(); ++i) {
        schedule_.push({start_ + offline_[i].every - offline_[i].downFor, drivers_.size() + i});
    }
    stopping_ = false;
    setMapOpenedEvent(MapOpenedEvent::bind<&Simulator::onMapOpened>(this));
    thread_ = std::thread(&Simulator::run, this);
}

void Simulator::stop() {
    if (!thread_.joinable()) {
        return;
    }
    setMapOpenedEvent({});
    {
        std::lock_guard lock(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    schedule_ = {};
}

uint64_t Simulator::headersWritten() const {
    std::lock_guard lock(lock_);
    return headersWritten_;
}

void Simulator::onMapOpened() {
    {
        std::lock_guard lock(lock_);
        mapOpened_ = true;
    }
    wake_.notify_all();
}

void Simulator::run() {
    std::unique_lock lock(lock_);
    while (!stopping_) {
        if (mapOpened_) {
            // A fresh map has no values yet: give it every tag's value now.
            mapOpened_ = false;
            lock.unlock();
            const auto now = Clock::now();
            const double timeStamp = hostDateTime(std::chrono::system_clock::now());
            for (std::size_t i = 0; i < drivers_.size(); ++i) {
                batch_.push_back(
                    {records_[i],
                     drivers_[i].next(
                         std::chrono::duration_cast<std::chrono::milliseconds>(now - start_),
                         timeStamp)});
            }
            writeBatch();
            lock.lock();
            continue;
        }
        const auto woken = [this] { return stopping_ || mapOpened_; };
        if (schedule_.empty()) {
            wake_.wait(lock, woken);
            continue;
        }
        if (wake_.wait_until(lock, schedule_.top().when, woken)) {
            continue;
        }
        lock.unlock();
        const auto now = Clock::now();
        const double timeStamp = hostDateTime(std::chrono::system_clock::now());
        while (!schedule_.empty() && schedule_.top().when <= now) {
            const Due due = schedule_.top();
            schedule_.pop();
            handle(due, now, timeStamp);
        }
        writeBatch();
        lock.lock();
    }
}

void Simulator::handle(const Due& due, Clock::time_point now, double timeStamp) {
    Clock::duration next{};
    if (due.event < drivers_.size()) {
        TagDriver& driver = drivers_[due.event];
        batch_.push_back(
            {records_[due.event],
             driver.next(std::chrono::duration_cast<std::chrono::milliseconds>(now - start_),
                         timeStamp)});
        next = std::chrono::milliseconds(driver.spec().drive.scanMs);
    } else {
        OfflineUnit& unit = offline_[due.event - drivers_.size()];
        unit.offline = !unit.offline;
        // Plug-ins read the state on their own threads: atomic stores keep each read whole.
        std::atomic_ref<int32_t>(*unit.connectState)
            .store(unit.offline ? 0 : unit.onlineState, std::memory_order_relaxed);
        next = unit.offline ? unit.downFor : unit.every - unit.downFor;
    }
    // A simulation that fell behind skips the missed values rather than catching up.
    schedule_.push({std::max(due.when + next, now), due.event});
}

void Simulator::writeBatch() {
    const std::size_t written = writeHeaders(batch_.data(), batch_.size());
    batch_.clear();
    std::lock_guard lock(lock_);
    headersWritten_ += written;
}

}  // namespace host
