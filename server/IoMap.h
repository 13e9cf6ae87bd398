// The IO map of a DAQ run, guarded: the window thread builds and empties it, the refresh thread
// copies current values into it, and request handlers read it, all at the same time.
//
// One lock guards the map's entries and the value blocks of the mapped IO records. The refresh
// pass takes it per slice of entries (then the map's header lock, innermost), so readers never
// wait for a whole pass. Qt-free.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "kelvane/IORecords.h"
#include "kelvane/ReadMapFile.h"

namespace daq {

class IoMap {
  public:
    // Entries one refresh slice copies while it holds the lock.
    static constexpr int32_t kDefaultEntriesPerSlice = 1024;

    // The map seen by a reader while the lock is held.
    class Snapshot {
      public:
        int32_t count() const { return map_.GetCount(); }
        // i must lie in 0..count()-1 (checked by the caller against count()).
        kelvane::TIOList* record(int32_t i) const { return map_.GetIOList(i); }
        // Changes whenever the map's entries change (clear, add): what a reader keeps about
        // the records at each index holds only while it stays the same.
        uint64_t generation() const { return generation_; }

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
    int32_t count() const;

    // One refresh pass: every entry whose header has its update byte set gets the header's
    // current-value block copied into its IO record.
    void refresh();

    // Runs f(const Snapshot&) with the map locked and returns what f returns. The snapshot and
    // the records it hands out are valid only inside f; copy what is needed there.
    template <typename F>
    decltype(auto) read(F&& f) const {
        std::lock_guard lock(mutex_);
        const Snapshot snapshot(map_, generation_);
        return f(snapshot);
    }

  private:
    // Copies the entries from `first` on, at most one slice; returns the next entry to copy,
    // or -1 when the pass is complete.
    int32_t refreshSlice(int32_t first);

    // An entry of the open map that has a header, as the map gave them when it opened.
    struct OpenEntry {
        const kelvane::TMapHeader* header;
        kelvane::TIOList* io;
    };

    kelvane::TReadMapFile& map_;
    const int32_t entriesPerSlice_;
    mutable std::mutex mutex_;
    uint64_t generation_ = 0;  // under mutex_
    // Taken once when the map opens, so that a pass makes no call into the map library per
    // entry; empty while the map is closed. Under mutex_.
    std::vector<OpenEntry> open_;
};

}  // namespace daq
