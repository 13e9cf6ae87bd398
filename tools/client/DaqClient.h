// A client of the DAQ server: one request, one parsed answer. Used by the command-line client,
// the load generator and the protocol tests.
//
//     daq::client::DaqClient client;
//     if (client.connect("127.0.0.1", 5050)) {
//         if (auto answer = client.alive()) std::puts((*answer)["TIME"].GetString());
//         else std::puts(client.lastError().c_str());
//     }
//
// Every request gives the parsed answer, or nothing when none came in time, the connection
// failed or the answer broke the frame rules (lastErrorKind() and lastError() say which). The
// server answers some requests with nothing at all (an unknown id, "IOLIST", the parameter
// requests before a unit is selected): those end with ClientErrorKind::Timeout after the reply
// time-out, and the connection stays usable.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <rapidjson/document.h>

#include "tools/client/ClientConnection.h"
#include "tools/client/Requests.h"

namespace daq::client {

// An answer object: members in the order the server wrote them, duplicated names kept (the two
// "RESULT" members of "PARAMETERWRITE"), numbers as JSON numbers.
using Answer = rapidjson::Document;

class DaqClient {
  public:
    explicit DaqClient(ClientSettings settings = {});

    bool connect(std::string_view host, std::uint16_t port) {
        return connection_.connect(host, port);
    }
    void close() { connection_.close(); }
    bool isOpen() const { return connection_.isOpen(); }

    // Raw access for what the typed calls do not cover: broken frames, reading the stop notice.
    ClientConnection& connection() { return connection_; }

    // Sends a request text (see requests.h) and reads its answer.
    std::optional<Answer> request(std::string_view json);

    std::optional<Answer> alive() { return request(aliveRequest()); }
    std::optional<Answer> login(std::string_view id, std::string_view password,
                                const ClientDevice& device = {}, std::string_view clientType = {}) {
        return request(loginRequest(id, password, device, clientType));
    }
    std::optional<Answer> projectInfo() { return request(projectInfoRequest()); }
    std::optional<Answer> daqListCount() { return request(daqListCountRequest()); }
    std::optional<Answer> daqList(int start, int size) {
        return request(daqListRequest(start, size));
    }
    std::optional<Answer> daqData(std::span<const int> indexes) {
        return request(daqDataRequest(indexes));
    }
    std::optional<Answer> deviceList() { return request(deviceListRequest()); }
    std::optional<Answer> parameterListCount(std::string_view interfaceName,
                                             std::string_view deviceName,
                                             std::string_view station) {
        return request(parameterListCountRequest(interfaceName, deviceName, station));
    }
    std::optional<Answer> parameterList(int start, int size) {
        return request(parameterListRequest(start, size));
    }
    std::optional<Answer> parameterDetail(int index) {
        return request(parameterDetailRequest(index));
    }
    std::optional<Answer> parameterWrite(int group, int index, std::string_view value) {
        return request(parameterWriteRequest(group, index, value));
    }
    std::optional<Answer> daqStatus() { return request(daqStatusRequest()); }

    // Why the last call gave nothing.
    ClientErrorKind lastErrorKind() const { return errorKind_; }
    const std::string& lastError() const { return error_; }

  private:
    ClientConnection connection_;
    ClientErrorKind errorKind_ = ClientErrorKind::None;
    std::string error_;
};

// Parses an answer text as the client does: UTF-8 checked, numbers kept as numbers.
std::optional<Answer> parseAnswer(std::string_view text, std::string* error = nullptr);

}  // namespace daq::client
