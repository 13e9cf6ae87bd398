#include "tools/daqclient/TagList.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <unordered_map>

#include "server/protocol/JsonRequest.h"

namespace daqclient {

namespace {

using daq::protocol::getJsonString;

int toInt(const std::string& text, std::string_view what) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        throw CommandError(ExitCode::Failure, "bad answer to " + std::string(what) + ": \"" + text +
                                                  "\" is no number");
    }
    return value;
}

std::string namedValues(const rapidjson::Value& entry) {
    const auto* list = daq::protocol::findJsonPath(entry, "LISTVALUE");
    if (list == nullptr || !list->IsArray()) {
        return {};
    }
    std::string text;
    for (const auto& item : list->GetArray()) {
        if (item.IsObject()) {
            text += (text.empty() ? "" : "; ") + getJsonString(item, "VALUE") + "=" +
                    getJsonString(item, "VALUENAME");
        }
    }
    return text;
}

const rapidjson::Value& listOf(const rapidjson::Value& answer, std::string_view what) {
    const auto* list = daq::protocol::findJsonPath(answer, "LIST");
    if (list == nullptr || !list->IsArray()) {
        throw CommandError(ExitCode::Failure, "bad answer to " + std::string(what) + ": no LIST");
    }
    return *list;
}

std::vector<TagEntry> fetchPage(ServerLink& link, int start, int size) {
    const auto answer = link.request(daq::client::daqListRequest(start, size), "DAQLIST");
    std::vector<TagEntry> entries;
    for (const auto& item : listOf(answer, "DAQLIST").GetArray()) {
        if (!item.IsObject()) {
            continue;
        }
        entries.push_back({getJsonString(item, "INDEX"), getJsonString(item, "TAGNAME"),
                           getJsonString(item, "SIG_TYPE"), getJsonString(item, "RW"),
                           getJsonString(item, "UNIT"), getJsonString(item, "GUID"),
                           getJsonString(item, "DESCRIPTION"), namedValues(item)});
    }
    return entries;
}

}  // namespace

int tagCount(ServerLink& link) {
    const auto answer = link.request(daq::client::daqListCountRequest(), "DAQLISTCOUNT");
    return toInt(getJsonString(answer, "COUNT"), "DAQLISTCOUNT");
}

std::vector<TagEntry> fetchTags(ServerLink& link, int start, int size) {
    std::vector<TagEntry> entries;
    for (int done = 0; done < size;) {
        const int page = std::min(kTagPageSize, size - done);
        auto more = fetchPage(link, start + done, page);
        if (more.empty()) {
            break;
        }
        // The server may cut a page to its own bound (MaxPageEntries): go on after what came.
        done += static_cast<int>(more.size());
        entries.insert(entries.end(), std::make_move_iterator(more.begin()),
                       std::make_move_iterator(more.end()));
    }
    return entries;
}

namespace {

// Names of the given indexes, read run by run of consecutive indexes.
std::map<int, std::string> namesOf(ServerLink& link, std::vector<int> indexes) {
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    std::map<int, std::string> names;
    for (std::size_t first = 0; first < indexes.size();) {
        std::size_t last = first;
        while (last + 1 < indexes.size() && indexes[last + 1] == indexes[last] + 1LL) {
            ++last;
        }
        for (const TagEntry& entry :
             fetchTags(link, indexes[first], static_cast<int>(last - first + 1))) {
            names[toInt(entry.index, "DAQLIST")] = entry.name;
        }
        first = last + 1;
    }
    return names;
}

}  // namespace

std::vector<SelectedRecord> resolveSelection(ServerLink& link, const Selection& selection) {
    std::vector<SelectedRecord> records;
    if (!selection.indexes.empty()) {
        const auto names = namesOf(link, selection.indexes);
        for (int index : selection.indexes) {
            const auto name = names.find(index);
            records.push_back({index, name != names.end() ? name->second : std::string()});
        }
    }
    if (!selection.tags.empty() || selection.indexes.empty()) {
        const int count = tagCount(link);
        const std::vector<TagEntry> all = fetchTags(link, 0, count);
        if (selection.tags.empty()) {
            for (const TagEntry& entry : all) {
                records.push_back({toInt(entry.index, "DAQLIST"), entry.name});
            }
            return records;
        }
        std::unordered_map<std::string, int> byName;
        for (const TagEntry& entry : all) {
            byName.emplace(entry.name, toInt(entry.index, "DAQLIST"));  // the first of a name
        }
        for (const std::string& tag : selection.tags) {
            const auto found = byName.find(tag);
            if (found == byName.end()) {
                throw CommandError(ExitCode::Failure, "unknown tag \"" + tag + "\": none of the " +
                                                          std::to_string(count) +
                                                          " tags of the IO map has this name");
            }
            records.push_back({found->second, tag});
        }
    }
    return records;
}

}  // namespace daqclient
