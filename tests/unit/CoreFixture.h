// Drives the server core without sockets: connections held in memory, host records built by the
// stand-in host's own code from specs written in each test, traces caught by a stand-in viewer.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/Login.h"
#include "host/core/ProjectModel.h"
#include "kelvane/ReadMapFile.h"
#include "server/core/ServerCore.h"
#include "server/runtime/IoMap.h"
#include "tests/support/MemoryConnection.h"
#include "tests/support/RequestFrame.h"
#include "tests/support/TimerLog.h"
#include "tests/support/TraceCapture.h"

namespace daq::test {

// A parameter of a test unit: a text type with its value, or an item type with its items (an
// item list only when there are items).
host::ParameterSpec parameter(std::string name, int32_t propType, std::string value,
                              std::vector<std::string> items = {}, int32_t itemIndex = 0);

// A station "PLC" of model "Model" with the given parameters.
host::UnitSpec stationUnit(std::string name, std::vector<host::ParameterSpec> parameters = {});

std::string loginRequest(std::string_view id, std::string_view password);

class CoreHarness {
  public:
    explicit CoreHarness(ServerLimits limits = {});

    ServerCore& core() { return core_; }
    // Starts (true) or stops the DAQ run, as the runtime does.
    void setDaqRunning(bool running) {
        if (running) {
            core_.startDaqRun();
        }
        daqRunning_ = running;
    }
    IoMap& ioMap() { return ioMap_; }
    TimerLog& timers() { return timers_; }

    std::shared_ptr<MemoryConnection> connect(std::string peer = "10.0.0.1");
    void disconnect(const std::shared_ptr<MemoryConnection>& connection);

    // Sends the bytes as one chunk; the answer texts written meanwhile, in order.
    std::vector<std::string> sendBytes(const std::shared_ptr<MemoryConnection>& connection,
                                       std::string_view bytes);
    // One request frame; its answer, or nothing. Fails the test on more than one answer.
    std::optional<std::string> request(const std::shared_ptr<MemoryConnection>& connection,
                                       std::string_view json);

    // The host's login check: "admin"/"admin" may write, "viewer"/"viewer" may not.
    void installLogin();

  private:
    kelvane::TReadMapFile readMap_;
    IoMap ioMap_{readMap_};
    TimerLog timers_;
    std::atomic<bool> daqRunning_{false};
    ServerCore core_;
    std::unique_ptr<host::LoginService> login_;
    std::atomic<std::uint64_t> nextId_{1};  // tests connect from several threads
};

// One line of a request table: the request and its answer (nullopt: none).
struct Exchange {
    std::string request;
    std::optional<std::string> answer;
};

// Sends the requests in order on one connection and checks each answer.
void expectExchanges(CoreHarness& harness, const std::shared_ptr<MemoryConnection>& connection,
                     std::span<const Exchange> exchanges);

}  // namespace daq::test
