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
    batchTags_.reserve(drivers_.size());
}

Simulator::~Simulator() {
    stop();
}

void Simulator::start() {
    if (thread_.joinable()) {
        return;
    }
    start_ = Clock::now();
    // Every tag has a value before a map can open and ask for it.
    const double timeStamp = hostDateTime(std::chrono::system_clock::now());
    for (std::size_t i = 0; i < drivers_.size(); ++i) {
        handle({start_, i}, start_, timeStamp);
    }
    latest_ = batch_;
    setCurrentValues(CurrentValues::bind<&Simulator::currentValues>(this));
    writeBatch();
    for (std::size_t i = 0; i < offline_.size(); ++i) {
        schedule_.push({start_ + offline_[i].every - offline_[i].downFor, drivers_.size() + i});
    }
    stopping_ = false;
    thread_ = std::thread(&Simulator::run, this);
}

void Simulator::stop() {
    if (!thread_.joinable()) {
        return;
    }
    setCurrentValues({});
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

void Simulator::currentValues(std::vector<HeaderUpdate>& updates) {
    std::lock_guard lock(lock_);
    updates = latest_;
}

void Simulator::run() {
    std::unique_lock lock(lock_);
    while (!stopping_) {
        const auto woken = [this] { return stopping_; };
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
        batchTags_.push_back(due.event);
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
    {
        // Before the write: a map that opens in between starts with the new values.
        std::lock_guard lock(lock_);
        for (std::size_t k = 0; k < batchTags_.size(); ++k) {
            latest_[batchTags_[k]].value = batch_[k].value;
        }
    }
    const std::size_t written = writeHeaders(batch_.data(), batch_.size());
    batch_.clear();
    batchTags_.clear();
    std::lock_guard lock(lock_);
    headersWritten_ += written;
}

}  // namespace host
