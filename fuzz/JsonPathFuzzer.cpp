// Fuzz target: a received message parsed as a request and read by path, as the request handlers
// read it (getJsonString on members, nested device texts, arrays and absent paths).
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "server/protocol/JsonRequest.h"

namespace {

constexpr std::string_view kPaths[] = {"PS_ID",
                                       "ID",
                                       "PW",
                                       "DEVICE.OS",
                                       "DEVICE.MODEL NAME",
                                       "START_INDEX",
                                       "LIST_SIZE",
                                       "DAQ_INDEX",
                                       "VALUE",
                                       "DEVICE",
                                       "",
                                       ".",
                                       "a.b.c.d.e.f",
                                       "DEVICE..OS"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto request = daq::protocol::parseJsonMessage(text);
    for (const std::string_view path : kPaths) {
        try {
            daq::protocol::getJsonString(request, path, "fallback");
        } catch (const std::runtime_error&) {
            // An object or an array at the path: the documented refusal.
        }
    }
    if (request && request->IsObject()) {
        for (const auto& member : request->GetObject()) {
            try {
                daq::protocol::jsonValueText(member.value);
            } catch (const std::runtime_error&) {
            }
        }
    }
    return 0;
}
