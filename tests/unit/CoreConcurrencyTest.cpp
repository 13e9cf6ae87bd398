// Requests of several connections on several threads while the window thread rebuilds the
// device list, drains its queues and stops and starts the run (the IO map's own lock against the
// refresh pass: ServerIomapTest).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/core/IoRecords.h"
#include "host/core/SystemRecords.h"
#include "tests/unit/CoreFixture.h"

namespace daq::test {
namespace {

constexpr int kRounds = 200;

std::vector<host::UnitSpec> twoUnits() {
    return {stationUnit("ST1", {parameter("P", 0, "0")}),
            stationUnit("ST2", {parameter("P", 0, "0")})};
}

TEST(CoreConcurrency, TwoClientsWriteToTheirOwnUnitsAtTheSameTime) {
    const std::vector<host::UnitSpec> tree = twoUnits();
    host::SystemRecords system(tree);
    CoreHarness harness;
    harness.installLogin();
    harness.core().setSystemTree(&system.tree());
    harness.core().rebuildDeviceList();

    auto run = [&](const char* station, const char* value) {
        auto client = harness.connect();
        harness.request(client, loginRequest("admin", "admin"));
        harness.request(
            client, std::string(R"({"PS_ID":"PARAMETERLISTCOUNT","DEVICENAME":"PLC","STATION":")") +
                        station + "\"}");
        for (int i = 0; i < kRounds; ++i) {
            EXPECT_EQ(
                harness.request(
                    client, std::string(R"({"PS_ID":"PARAMETERWRITE","PARAMINDEX":"0","VALUE":")") +
                                value + "\"}"),
                R"({"PS_ID":true,"RESULT":"OK","RESULT":"0"})");
        }
    };
    std::thread first(run, "ST1", "one");
    std::thread second(run, "ST2", "two");
    first.join();
    second.join();
    for (const auto& [station, value] : {std::pair{"ST1", u"one"}, std::pair{"ST2", u"two"}}) {
        const host::UnitCalls calls = system.find(station)->pinz->calls();
        EXPECT_EQ(calls.writes, kRounds) << station;
        EXPECT_EQ(calls.lastWriteValue, value) << station;
        EXPECT_EQ(calls.selects, 1) << station;
    }
}

TEST(CoreConcurrency, RequestsWhileTheRunStopsAndTheWindowDrains) {
    std::vector<host::IoNode> ioTree;
    for (int i = 0; i < 64; ++i) {
        host::TagSpec tag;
        tag.name = "T" + std::to_string(i);
        tag.decimals = 1;
        ioTree.push_back({tag.name, tag, {}});
    }
    host::IoRecords io(ioTree);
    const std::vector<host::UnitSpec> units = twoUnits();
    host::SystemRecords system(units);
    CoreHarness harness;
    harness.installLogin();
    harness.core().setSystemTree(&system.tree());
    harness.setDaqRunning(true);

    auto fillMap = [&] {
        for (const auto& tag : io.tags()) {
            harness.ioMap().add(tag.record);
        }
        ASSERT_NE(harness.ioMap().open(), 0);
    };
    fillMap();

    std::atomic<bool> done{false};
    // The window thread: device-list rebuilds, queue drains, and DAQ stops and starts.
    std::thread window([&] {
        for (int round = 0; !done; ++round) {
            harness.core().rebuildDeviceList();
            harness.core().takeLogins();
            harness.core().takeLogouts();
            harness.core().takeEvents();
            harness.core().takePopups();
            if (round % 10 == 0) {
                harness.ioMap().clear();
                fillMap();
                harness.setDaqRunning(true);  // a new run drops the rendered entries
            }
            std::this_thread::yield();
        }
    });
    std::vector<std::thread> clients;
    for (int c = 0; c < 4; ++c) {
        clients.emplace_back([&, c] {
            auto client = harness.connect("10.0.0." + std::to_string(c));
            for (int i = 0; i < kRounds; ++i) {
                const auto data =
                    harness.request(client, R"({"PS_ID":"DAQ_DATA","DAQ_INDEX":[0,10,63,64]})");
                ASSERT_TRUE(data);
                EXPECT_EQ(data->find(R"("INDEX":"64")"), std::string::npos);
                EXPECT_TRUE(harness.request(
                    client, R"({"PS_ID":"DAQLIST","START_INDEX":60,"LIST_SIZE":8})"));
                EXPECT_TRUE(harness.request(client, R"({"PS_ID":"DEVICELIST"})"));
                if (i % 50 == 0) {
                    harness.request(client, loginRequest("viewer", "viewer"));
                }
            }
            harness.disconnect(client);
        });
    }
    for (auto& client : clients) {
        client.join();
    }
    done = true;
    window.join();
    EXPECT_EQ(harness.core().clientCount(), 0u);
}

}  // namespace
}  // namespace daq::test
