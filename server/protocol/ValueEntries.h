// The "DAQ_DATA" entries of the records of a DAQ run, each kept fully rendered together with the
// value block it was rendered from. A value changes at its scan rate while clients poll it many
// times in between, so a poll costs a compare of the block and a copy of the text; the entry is
// rendered again only when the block differs.
//
// Requests of several connections render at the same time: each holds lock() for one hold of
// the IO map (a batch of entries), inside the map's lock. Memory: one entry per record index asked
// for, 168 bytes plus its text (about 130 bytes for a numeric tag with a GUID; at most a few
// hundred).
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "kelvane/IORecords.h"
#include "server/protocol/Answer.h"
#include "server/protocol/IoRecordSource.h"

namespace daq::protocol {

class ValueEntries {
  public:
    // Forgets every rendering (a new DAQ run). Takes the lock.
    void clear();

    // Held while write() is called; the IO map's lock is taken first.
    [[nodiscard]] std::unique_lock<std::mutex> lock() { return std::unique_lock(mutex_); }

    // Writes the entry of record `index` of the locked map as the next element of the answer's
    // raw array (Answer::beginRawArray): "INDEX", "GUID", "DATA" (the value text), "UNIT",
    // "TYPE", "TIME" (the value's time stamp). Renderings of another map generation are
    // dropped first.
    void write(Answer& answer, const IoSnapshot& map, int32_t index,
               const kelvane::TIOList& record);

  private:
    struct Entry {
        bool rendered = false;
        // The block `text` shows. The record type is packed (alignment 1): aligned here so
        // that its value text, at an even offset inside it, is read from an even address.
        alignas(8) kelvane::TCurrentValue value{};
        std::string text;  // the whole entry, a JSON object
        // Where the JSON strings of "DATA" and "TIME" lie in `text`, quotes included.
        std::size_t dataAt = 0;
        std::size_t dataSize = 0;
        std::size_t timeAt = 0;
        std::size_t timeSize = 0;
    };

    // The entry's text with every member but the value's two texts, which are left empty.
    void renderFixed(Entry& entry, int32_t index, const kelvane::TIOList& record);
    // Sets the value text and time stamp of entry.value into the entry's text.
    void renderValue(Entry& entry, const kelvane::TIOList& record);
    // Appends `text` as a JSON string (quoted and escaped by the writer) to entry_.
    void appendString(std::string_view text);

    using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

    std::mutex mutex_;
    uint64_t generation_ = 0;
    std::vector<Entry> entries_;  // by record index
    std::string entry_;           // the entry being put together
    std::string value_;
    std::string unit_;
    rapidjson::StringBuffer buffer_;
    JsonWriter writer_{buffer_};
};

}  // namespace daq::protocol
