// The IO map's tag list as "DAQLISTCOUNT" and "DAQLIST" give it, and the records that "read"
// and "watch" address.
#pragma once

#include <string>
#include <vector>

#include "tools/daqclient/Options.h"
#include "tools/daqclient/ServerLink.h"

namespace daqclient {

// Entries asked for with one "DAQLIST"; longer lists are read page by page.
inline constexpr int kTagPageSize = 1000;

struct TagEntry {
    std::string index;
    std::string name;
    std::string sigType;
    std::string rw;
    std::string unit;
    std::string guid;
    std::string description;
    std::string values;  // the named values: "0=Stopped; 1=Running"
};

// "DAQLISTCOUNT".
int tagCount(ServerLink& link);

// Entries start .. start+size-1, page by page; a page that the server cuts to its own bound is
// followed by the next one after its last entry. Indexes outside the map come back with their
// index only, as the server answers them.
std::vector<TagEntry> fetchTags(ServerLink& link, int start, int size);

struct SelectedRecord {
    int index = 0;
    std::string name;  // empty for an index outside the map
};

// The records of a selection, in order: the indexes, then the tag names (resolved through the
// whole tag list; an unknown name is a CommandError); without either, every record.
std::vector<SelectedRecord> resolveSelection(ServerLink& link, const Selection& selection);

}  // namespace daqclient
