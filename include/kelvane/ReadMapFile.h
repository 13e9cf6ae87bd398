// The host's IO-map library: the map of IO records a DAQ run reads its current values from.
#pragma once

#include <cstdint>
#include <mutex>

#include "kelvane/IORecords.h"

#define KVREADMAP_API __attribute__((visibility("default")))

namespace kelvane {

class KVREADMAP_API TReadMapFile {
  public:
    TReadMapFile();
    ~TReadMapFile();
    TReadMapFile(const TReadMapFile&) = delete;
    TReadMapFile& operator=(const TReadMapFile&) = delete;

    // Empties the map (and closes it when open).
    void Clear();
    // Appends a record; GetIOList of its index returns it.
    void Add(TIOList* io);
    // Attaches one header record to every entry; 0 = failure.
    int32_t Open(bool create);
    void Close();
    int32_t GetCount() const;
    // Header of entry i while the map is open; null otherwise or outside the map.
    TMapHeader* GetHeader(int32_t i);
    TIOList* GetIOList(int32_t i);
    // The host writes header records while the map is open; whoever copies from a header
    // holds this lock meanwhile so that it sees whole values.
    std::mutex& HeaderLock();

  private:
    struct Impl;
    Impl* impl_;
};

}  // namespace kelvane
