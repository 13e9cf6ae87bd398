#include "server/protocol/IoRequests.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <stdexcept>

#include "kelvane/Text.h"
#include "server/protocol/IoValueText.h"
#include "server/protocol/JsonRequest.h"
#include "server/protocol/RequestValues.h"
#include "server/protocol/TraceText.h"
#include "trace/Trace.h"

namespace daq::protocol {

namespace {

constexpr const char* kTraceFile = "IoRequests.cpp";

// A decimal integer as a JSON string.
void putDecimal(Answer& answer, int64_t value) {
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    answer.string(std::string_view(digits, static_cast<std::size_t>(end - digits)));
}

void beginAnswer(Answer& answer) {
    answer.begin().StartObject();
    answer.key("PS_ID");
    answer.writer().Bool(true);
}

void writeListEntryMembers(Answer& answer, const kelvane::TIOList& record) {
    auto& writer = answer.writer();
    answer.member("TAGNAME", kelvane::RefText(record.TagName));
    answer.key("SIG_TYPE");
    putDecimal(answer, record.SigType);
    answer.key("RW");
    putDecimal(answer, record.RW);
    answer.member("UNIT", kelvane::RefText(record.Unit));
    answer.key("GUID");
    answer.string(guidText(record).view());
    answer.member("DESCRIPTION", kelvane::RefText(record.Description));
    const int32_t count = valueListCount(record.ValueList);
    answer.key("LISTCOUNT");
    putDecimal(answer, count);
    if (count < 1) {
        return;
    }
    answer.key("LISTVALUE");
    writer.StartArray();
    for (int32_t i = 0; i < count; ++i) {
        const kelvane::TValueListEntry& entry = record.ValueList->Entries[i];
        writer.StartObject();
        answer.member("VALUENAME", kelvane::RefText(entry.Name));
        answer.key("VALUE");
        writer.Int(entry.Value);
        writer.EndObject();
    }
    writer.EndArray();
}

}  // namespace

bool handleDaqListCount(RequestContext& request) {
    const int32_t count = request.server.ioMap().count();
    beginAnswer(request.answer);
    request.answer.key("COUNT");
    putDecimal(request.answer, count);
    request.answer.writer().EndObject();
    return true;
}

bool handleDaqList(RequestContext& request) {
    const auto [start, size] = readPage(request.json, "DAQList");
    DAQ_TRACE(kTraceInfo, "DAQList", kTraceFile, "DAQServer Rx : %s, start=%d, end=%d",
              traceText(request.text).c_str(), start, size);
    const IoRecordSource& map = request.server.ioMap();
    const bool running = request.server.daqRunning();
    DAQ_TRACE(kTraceInfo, "DAQList", kTraceFile, "DAQList : %d, DAQRun : %d", map.count(),
              running ? 1 : 0);

    const int32_t limit = request.server.maxPageEntries();
    if (size > limit) {
        DAQ_TRACE(kTraceError, "DAQList", kTraceFile,
                  "DAQList page of %d entries cut to the page bound of %d", size, limit);
    }
    const int64_t first = start;
    const int64_t end = first + std::clamp<int64_t>(size, 0, limit);

    Answer& answer = request.answer;
    beginAnswer(answer);
    if (!running) {
        answer.key("STATUS");
        answer.writer().Bool(true);
    }
    answer.key("LIST");
    answer.writer().StartArray();
    const std::size_t maxBytes = request.server.maxAnswerBytes();
    for (int64_t i = first; i < end;) {
        if (i > first && answer.size() >= maxBytes) {
            DAQ_TRACE(kTraceError, "DAQList", kTraceFile,
                      "DAQList page cut to %" PRId64 " entries : the answer reached %zu bytes",
                      i - first, answer.size());
            break;
        }
        map.read([&](const IoSnapshot& snapshot) {
            // The first entry always comes, so that a client stepping through pages goes on.
            for (int n = 0;
                 n < kEntriesPerMapHold && i < end && (i == first || answer.size() < maxBytes);
                 ++n, ++i) {
                answer.writer().StartObject();
                answer.key("INDEX");
                putDecimal(answer, i);
                const int32_t count = snapshot.count();
                const kelvane::TIOList* record =
                    i >= 0 && i < count ? snapshot.record(static_cast<int32_t>(i)) : nullptr;
                if (record != nullptr) {
                    writeListEntryMembers(answer, *record);
                } else {
                    DAQ_TRACE(kTraceError, "DAQList", kTraceFile,
                              "%" PRId64 "/%" PRId64 " DAQList error : %s", i, end,
                              "no such record in the IO map");
                }
                answer.writer().EndObject();
            }
        });
    }
    answer.writer().EndArray();
    answer.writer().EndObject();
    return true;
}

bool handleDaqData(RequestContext& request) {
    DAQ_TRACE(kTraceInfo, "DAQData", kTraceFile, "DAQServer Rx : %s",
              traceText(request.text).c_str());
    const rapidjson::Value* indexes = findJsonPath(request.json, "DAQ_INDEX");
    if (indexes != nullptr && !indexes->IsArray()) {
        throw std::runtime_error("DAQ_INDEX is not an array");
    }
    Answer& answer = request.answer;
    beginAnswer(answer);
    answer.key("LIST");
    answer.beginRawArray();
    if (indexes != nullptr) {
        const IoRecordSource& map = request.server.ioMap();
        ValueEntries& entries = request.server.valueEntries();
        const rapidjson::SizeType wanted = indexes->Size();
        const auto bound = static_cast<rapidjson::SizeType>(request.server.maxDaqDataIndexes());
        if (wanted > bound) {
            DAQ_TRACE(kTraceError, "DAQData", kTraceFile,
                      "DAQ_DATA of %u indexes : only the first %u are answered", wanted, bound);
        }
        // Entries are added while the answer is shorter than its bound; the first always comes.
        const std::size_t maxBytes = request.server.maxAnswerBytes();
        const std::size_t emptySize = answer.size();
        const auto room = [&] { return answer.size() == emptySize || answer.size() < maxBytes; };
        auto next = indexes->Begin();
        const auto last = next + std::min(wanted, bound);
        while (next != last) {
            if (!room()) {
                DAQ_TRACE(kTraceError, "DAQData", kTraceFile,
                          "DAQ_DATA cut : the answer reached %zu bytes", answer.size());
                break;
            }
            map.read([&](const IoSnapshot& snapshot) {
                const auto hold = entries.lock();
                for (int n = 0; n < kEntriesPerMapHold && next != last && room(); ++n, ++next) {
                    // An element that is no integer names no record, like one past the end.
                    const int32_t index = integerValue(*next).value_or(-1);
                    if (index >= 0 && index < snapshot.count()) {
                        const kelvane::TIOList* record = snapshot.record(index);
                        if (record != nullptr) {
                            entries.write(answer, snapshot, index, *record);
                        }
                    }
                }
            });
        }
    }
    answer.endRawArray();
    answer.writer().EndObject();
    return true;
}

}  // namespace daq::protocol
