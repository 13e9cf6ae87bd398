// "IOLIST", "DAQLISTCOUNT", "DAQLIST" and "DAQ_DATA": the IO map and its current values.
#pragma once

#include "server/protocol/Request.h"

namespace daq::protocol {

// Entries built per hold of the IO map's lock, so that a long answer never keeps the refresh
// thread out for long.
inline constexpr int kEntriesPerMapHold = 256;

// "COUNT": the number of records in the map, as text.
bool handleDaqListCount(RequestContext& request);
// A page of record descriptions, from "START_INDEX", "LIST_SIZE" entries (cut to the page
// bound); an index outside the map gives an entry with "INDEX" only.
bool handleDaqList(RequestContext& request);
// The current values of the records listed in "DAQ_INDEX", in its order; indexes outside the
// map are left out.
bool handleDaqData(RequestContext& request);

}  // namespace daq::protocol
