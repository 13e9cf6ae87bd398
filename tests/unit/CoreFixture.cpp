#include "tests/unit/CoreFixture.h"

#include <gtest/gtest.h>

#include "host/core/Passwords.h"
#include "server/protocol/Frame.h"

namespace daq::test {

namespace {

// The JSON text of an answer frame; fails the test when the frame is not STX text ETX 0x00.
std::string answerText(const std::string& frame) {
    EXPECT_GE(frame.size(), 3u);
    if (frame.size() < 3) {
        return {};
    }
    EXPECT_EQ(frame.front(), '\x02');
    EXPECT_EQ(frame.substr(frame.size() - 2), std::string("\x03\x00", 2));
    return frame.substr(1, frame.size() - 3);
}

}  // namespace

host::ParameterSpec parameter(std::string name, int32_t propType, std::string value,
                              std::vector<std::string> items, int32_t itemIndex) {
    host::ParameterSpec spec;
    spec.name = std::move(name);
    spec.propType = propType;
    spec.valueText = std::move(value);
    if (!items.empty()) {
        spec.items = std::move(items);
    }
    spec.itemIndex = itemIndex;
    return spec;
}

host::UnitSpec stationUnit(std::string name, std::vector<host::ParameterSpec> parameters) {
    host::UnitSpec unit;
    unit.pinKind = 2;
    unit.stationName = std::move(name);
    unit.deviceName = "PLC";
    unit.info = "Model";
    unit.parameters = std::move(parameters);
    return unit;
}

std::string loginRequest(std::string_view id, std::string_view password) {
    return R"({"PS_ID":"LOGIN","ID":")" + std::string(id) + R"(","PW":")" + std::string(password) +
           "\"}";
}

void expectExchanges(CoreHarness& harness, const std::shared_ptr<MemoryConnection>& connection,
                     std::span<const Exchange> exchanges) {
    for (const Exchange& exchange : exchanges) {
        EXPECT_EQ(harness.request(connection, exchange.request), exchange.answer)
            << exchange.request;
    }
}

CoreHarness::CoreHarness(ServerLimits limits) : core_(ioMap_, daqRunning_, timers_, limits) {}

std::shared_ptr<MemoryConnection> CoreHarness::connect(std::string peer) {
    auto connection = std::make_shared<MemoryConnection>(nextId_++, std::move(peer));
    core_.onConnect(connection);
    return connection;
}

void CoreHarness::disconnect(const std::shared_ptr<MemoryConnection>& connection) {
    connection->close();
    core_.onDisconnect(connection);
}

std::vector<std::string> CoreHarness::sendBytes(const std::shared_ptr<MemoryConnection>& connection,
                                                std::string_view bytes) {
    deliverAll(bytes, [&](std::string_view rest) { return core_.onData(connection, rest); });
    std::vector<std::string> answers;
    for (const std::string& frame : connection->takeWrites()) {
        answers.push_back(answerText(frame));
    }
    return answers;
}

std::optional<std::string> CoreHarness::request(const std::shared_ptr<MemoryConnection>& connection,
                                                std::string_view json) {
    const std::vector<std::string> answers = sendBytes(connection, requestFrame(json));
    EXPECT_LE(answers.size(), 1u) << json;
    if (answers.empty()) {
        return std::nullopt;
    }
    return answers.front();
}

void CoreHarness::installLogin() {
    // The light cost, as the demo's users: every login of the tests is checked.
    static const std::vector<host::UserSpec> users = {
        {"admin", host::hashPassword("admin", host::HashCost::Light), true},
        {"viewer", host::hashPassword("viewer", host::HashCost::Light), false},
    };
    login_ = std::make_unique<host::LoginService>(users);
    core_.setLoginCallback(login_->callback());
}

}  // namespace daq::test
