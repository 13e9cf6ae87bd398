// The "DAQ_DATA" entries of the records of a DAQ run. Everything of an entry but its value text
// and time stamp stays the same for the whole run, so it is rendered (by RapidJSON's Writer)
// once per record and run; each answer copies it with the two texts set in.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "kelvane/IORecords.h"
#include "server/protocol/answer.h"

namespace daq::protocol {

class ValueEntries {
  public:
    // Forgets every rendering (a new DAQ run).
    void clear();

    // Writes the entry of record `index` as the next element of the answer's raw array
    // (Answer::beginRawArray): "INDEX", "GUID", "DATA" (`data`), "UNIT", "TYPE", "TIME"
    // (`time`, a time stamp text, which needs no escaping).
    void write(Answer& answer, int32_t index, const kelvane::TIOList& record, std::string_view data,
               std::string_view time);

  private:
    // Where a record's rendering lies in texts_, and where its two empty texts are.
    struct Shape {
        const kelvane::TIOList* record = nullptr;
        std::size_t offset = 0;
        std::size_t size = 0;
        std::size_t dataAt = 0;  // the "" of "DATA"
        std::size_t timeAt = 0;  // the "" of "TIME"
    };

    const Shape& shape(int32_t index, const kelvane::TIOList& record);
    Shape render(int32_t index, const kelvane::TIOList& record);
    // Appends `text` as a JSON string (quoted and escaped by the writer).
    void appendString(std::string_view text);

    using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

    std::vector<Shape> shapes_;  // by record index
    std::string texts_;          // every rendering of this run, one after the other
    std::string entry_;          // the entry being put together
    std::string unit_;
    rapidjson::StringBuffer buffer_;
    JsonWriter writer_{buffer_};
};

}  // namespace daq::protocol
