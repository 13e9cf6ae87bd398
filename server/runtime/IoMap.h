// The IO map of a DAQ run, guarded: the window thread builds and empties it, the refresh thread
// copies current values into it, and request handlers read it, all at the same time.
//
// One lock guards the map's entries and the value blocks of the mapped IO records. The refresh
// pass takes it per slice of entries (then the map's header lock, innermost), so readers never
// wait for a whole pass. A pass copies only the value blocks that changed, and hands those to
// the broker publisher when one is set. Qt-free.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "kelvane/IORecords.h"
#include "kelvane/ReadMapFile.h"
#include "server/mqtt/Publisher.h"
#include "server/protocol/IoRecordSource.h"

namespace daq {

class IoMap final : public protocol::IoRecordSource {
  public:
    // Entries one refresh slice copies while it holds the lock.
    static constexpr int32_t kDefaultEntriesPerSlice = 1024;

    // The map seen by a reader while the lock is held.
    class Snapshot final : public protocol::IoSnapshot {
      public:
        int32_t count() const override { return map_.GetCount(); }
        kelvane::TIOList* record(int32_t i) const override { return map_.GetIOList(i); }
        uint64_t generation() const override { return generation_; }

      private:
        friend class IoMap;
        Snapshot(kelvane::TReadMapFile& map, uint64_t generation)
            : map_(map), generation_(generation) {}
        kelvane::TReadMapFile& map_;
        uint64_t generation_;
    };

    explicit IoMap(kelvane::TReadMapFile& map, int32_t entriesPerSlice = kDefaultEntriesPerSlice);
    IoMap(const IoMap&) = delete;
    IoMap& operator=(const IoMap&) = delete;

    void clear();
    void add(kelvane::TIOList* io);
    // 0 = failure, as the map reports it.
    int32_t open();
    void close();
    int32_t count() const override;

    // One refresh pass: every entry whose header has its update byte set and a current-value
    // block other than its IO record's gets it copied into the record, and offered to the
    // publisher.
    void refresh();
    // The publisher the passes offer changed values to; null: none. It is not used once this
    // returns, so it may go then.
    void setPublisher(mqtt::Publisher* publisher);

    // Runs `reader` with the map locked.
    void read(FunctionRef<void(const protocol::IoSnapshot&)> reader) const override;

  private:
    // Copies the entries from `first` on, at most one slice; returns the next entry to copy,
    // or -1 when the pass is complete.
    int32_t refreshSlice(int32_t first);

    // An entry of the open map that has a header, as the map gave them when it opened.
    struct OpenEntry {
        const kelvane::TMapHeader* header;
        kelvane::TIOList* io;
        int32_t index;  // in the map
    };

    kelvane::TReadMapFile& map_;
    const int32_t entriesPerSlice_;
    mutable std::mutex mutex_;
    uint64_t generation_ = 0;  // under mutex_
    // Taken once when the map opens, so that a pass makes no call into the map library per
    // entry; empty while the map is closed. Under mutex_.
    std::vector<OpenEntry> open_;
    mqtt::Publisher* publisher_ = nullptr;  // under mutex_
};

}  // namespace daq
