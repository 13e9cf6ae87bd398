// The server runtime without its window: the DAQ-run state table, the IO map built from the
// host's tree, and the refresh, with a view that records what a window would show.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include <vector>

#include "host/core/HostTree.h"
#include "host/readmap/MapAccess.h"
#include "kelvane/IORecords.h"
#include "server/runtime/ServerRuntime.h"
#include "server/tcp/SocketError.h"
#include "tests/support/TempDir.h"
#include "tests/unit/CoreFixture.h"
#include "trace/TzrTrace.h"

namespace {

using daq::ServerRuntime;
using daq::test::TraceCapture;

// What a window would show, as the runtime last told it.
struct RecordingView final : daq::ServerRuntimeView {
    std::vector<std::string> addresses;
    bool addressChoice = true;
    bool activeSwitch = true;
    bool controls = true;
    bool active = false;
    std::optional<bool> running;
    int rowClears = 0;

    void showAddresses(const std::vector<std::string>& shown, std::size_t) override {
        addresses = shown;
    }
    void enableAddressChoice(bool enabled) override { addressChoice = enabled; }
    void enableActiveSwitch(bool enabled) override { activeSwitch = enabled; }
    void enableControls(bool enabled) override { controls = enabled; }
    void showActive(bool shown) override { active = shown; }
    void showRunState(bool shown) override { running = shown; }
    void clearUserRows() override { ++rowClears; }
    bool waitForEvents(int ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return true;
    }
    void startTimer(daq::WindowTimer) override {}
};

// The host's application object, with a directory of its own for "config.ini".
class TestApplication final : public kelvane::TApplication {
  public:
    std::string ExeDir() const override { return directory_.path().string() + "/"; }
    ExceptionEvent OnException() const override { return handler_; }
    void SetOnException(ExceptionEvent handler) override { handler_ = handler; }

  private:
    daq::test::TempDir directory_;
    ExceptionEvent handler_{};
};

// The host's IO tree: groups and tags with their records.
class IoTree {
  public:
    kelvane::TTreeNode* group(kelvane::TTreeNode* parent) {
        nodes_.push_back({kelvane::nkGroup, {}, nullptr});
        return tree_.add(parent, &nodes_.back(), 0, "group");
    }
    kelvane::TIOList* tag(kelvane::TTreeNode* parent, int32_t id) {
        records_.emplace_back();
        records_.back().Id = id;
        nodes_.push_back({kelvane::nkTag, {}, &records_.back()});
        tree_.add(parent, &nodes_.back(), 0, "tag");
        return &records_.back();
    }
    host::HostTree& tree() { return tree_; }

  private:
    host::HostTree tree_;
    std::deque<kelvane::TIONodeRecord> nodes_;
    std::deque<kelvane::TIOList> records_;
};

class Runtime : public ::testing::Test {
  protected:
    Runtime() {
        runtime.setListenAddress("127.0.0.1");
        runtime.setListenPort(0);  // a free port
    }
    ~Runtime() override { host::setOpenFailure(false); }

    // Enabled and, through the project settings and the host's calls, in the given run mode.
    void enterRunMode(int32_t mode) {
        runtime.setEnableFlag(&enableFlag);
        if (mode == daq::rmDisabled) {
            runtime.setEnableFlag(nullptr);
        } else if (mode != daq::rmUncoupled) {
            *runtime.runModeAddress() = daq::rmDisconnected;  // as the project settings couple it
            if (mode == daq::rmConnected) {
                runtime.Connect();
            } else if (mode == daq::rmDaqRunning) {
                runtime.SetDAQRun(true);
            }
        }
        ASSERT_EQ(runtime.runMode(), mode);
    }
    std::vector<const kelvane::TIOList*> mapped() {
        std::vector<const kelvane::TIOList*> records;
        runtime.ioMap().read([&](const daq::protocol::IoSnapshot& map) {
            for (int i = 0; i < map.count(); ++i) {
                records.push_back(map.record(i));
            }
        });
        return records;
    }

    int32_t enableFlag = 1;
    IoTree io;  // outlives the run over it
    TestApplication application;
    RecordingView view;
    ServerRuntime runtime{&application, {}, view};
};

}  // namespace

TEST_F(Runtime, DaqRunFollowsTheStateTable) {
    struct Row {
        int32_t from;
        bool run;
        int32_t to;
        bool listening;
    };
    const Row rows[] = {
        {daq::rmDisconnected, true, daq::rmDaqRunning, true},
        {daq::rmConnected, true, daq::rmDaqRunning, true},
        {daq::rmDaqRunning, true, daq::rmDaqRunning, true},  // the map is rebuilt
        {daq::rmDaqRunning, false, daq::rmConnected, false},
        {daq::rmDisconnected, false, daq::rmDisconnected, false},
        {daq::rmConnected, false, daq::rmConnected, false},
        {daq::rmUncoupled, true, daq::rmUncoupled, false},
        {daq::rmDisabled, true, daq::rmDisabled, false},
    };
    io.tag(nullptr, 1);
    io.tag(nullptr, 2);
    runtime.setIoTree(&io.tree());
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.from) + (row.run ? " run" : " stop"));
        enterRunMode(row.from);
        const bool wasRunning = runtime.daqRunning();
        const std::optional<bool> wasShown = view.running;
        runtime.SetDAQRun(row.run);
        EXPECT_EQ(runtime.runMode(), row.to);
        EXPECT_EQ(runtime.listener().active(), row.listening);
        const bool ignored = row.from == daq::rmUncoupled || row.from == daq::rmDisabled;
        EXPECT_EQ(runtime.daqRunning(), ignored ? wasRunning : row.run);
        EXPECT_EQ(runtime.ioMap().count(), row.run && !ignored ? 2 : 0);
        EXPECT_EQ(view.running, ignored ? wasShown : row.run);
        if (!ignored) {
            EXPECT_EQ(view.addressChoice, !row.run);
            EXPECT_EQ(view.activeSwitch, !row.run);
        }
        if (row.run && !ignored) {
            // A run copies the values at once, not only after its first interval.
            const uint64_t passes = runtime.refreshThread().passes();
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            while (runtime.refreshThread().passes() == passes &&
                   std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            EXPECT_GT(runtime.refreshThread().passes(), passes);
        }
        runtime.SetDAQRun(false);  // the next row starts stopped
    }
    for (const int32_t locked : {daq::rmUncoupled, daq::rmDisabled}) {
        enterRunMode(locked);
        runtime.Disconnect();
        EXPECT_EQ(runtime.runMode(), locked) << "Disconnect";
    }
}

TEST_F(Runtime, MapHoldsTheTreesTagsDepthFirstWithOneLinePerGroup) {
    kelvane::TTreeNode* g1 = io.group(nullptr);
    const kelvane::TIOList* t1 = io.tag(g1, 1);
    kelvane::TTreeNode* g2 = io.group(g1);
    const kelvane::TIOList* t2 = io.tag(g2, 2);
    const kelvane::TIOList* t3 = io.tag(g2, 3);
    const kelvane::TIOList* t4 = io.tag(g1, 4);
    io.group(nullptr);  // an empty group
    const kelvane::TIOList* t5 = io.tag(nullptr, 5);
    runtime.setIoTree(&io.tree());
    enterRunMode(daq::rmDisconnected);
    TraceCapture traces;
    runtime.SetDAQRun(true);

    EXPECT_EQ(mapped(), (std::vector<const kelvane::TIOList*>{t1, t2, t3, t4, t5}));
    std::vector<std::string> counts;
    for (const daq::test::TraceLine& line : traces.take()) {
        if (line.text.starts_with("daqlist map : ")) {
            counts.push_back(line.text);
        }
    }
    EXPECT_EQ(counts, (std::vector<std::string>{"daqlist map : 3", "daqlist map : 4",
                                                "daqlist map : 4", "daqlist map : 5"}));
}

TEST_F(Runtime, FailedMapOpenIsTracedAndTheRunGoesOn) {
    io.tag(nullptr, 1);
    io.tag(nullptr, 2);
    runtime.setIoTree(&io.tree());
    enterRunMode(daq::rmDisconnected);
    host::setOpenFailure(true);
    TraceCapture traces;
    runtime.SetDAQRun(true);
    EXPECT_EQ(runtime.runMode(), daq::rmDaqRunning);
    EXPECT_TRUE(runtime.listener().active());
    EXPECT_TRUE(TraceCapture::contains(traces.take(), daq::kTraceError,
                                       "TCPIP Server ReadMap fail! : IONum=2"));
}

TEST_F(Runtime, StopClosesTheListenerAndEmptiesTheUserList) {
    runtime.setIoTree(&io.tree());
    enterRunMode(daq::rmDaqRunning);
    ASSERT_TRUE(runtime.listenerState().listening);
    runtime.SetDAQRun(false);
    EXPECT_EQ(view.rowClears, 1);
    EXPECT_FALSE(runtime.listenerState().listening);
    runtime.SetDAQRun(false);  // a closed listener has no rows to clear
    EXPECT_EQ(view.rowClears, 1);
}

// What start-up finds wrong in "config.ini" is traced; a file it cannot read keeps the listener
// closed, since listening at the defaults could open the server where the operator closed it.
TEST_F(Runtime, StartUpTracesTheSettingsItCannotUse) {
    const std::string path = application.ExeDir() + "config.ini";
    std::ofstream(path) << "[config]\nDAQServer Addr=203.0.113.9\nDAQServer Port=fifty\n";
    TraceCapture traces;
    {
        ServerRuntime started(&application, {}, view);
        started.listAddresses();
        EXPECT_EQ(started.serverAddress(), "0.0.0.0");
    }
    const auto lines = traces.take();
    EXPECT_TRUE(TraceCapture::contains(lines, daq::kTraceError,
                                       "config.ini : DAQServer Port=fifty is not in 0..65535"));
    EXPECT_TRUE(TraceCapture::contains(lines, daq::kTraceError,
                                       "TCP/IP Server : 203.0.113.9 is not an address of this "
                                       "machine, all interfaces (0.0.0.0) used instead"));

    std::ofstream(path) << std::string("[config]\0\n", 10);
    const std::string why = path + ": holds a zero byte at offset 8";
    ServerRuntime unread(&application, {}, view);
    EXPECT_TRUE(TraceCapture::contains(
        traces.take(), daq::kTraceError,
        "TCP/IP Server : config.ini not read, the listener stays closed : " + why));
    EXPECT_FALSE(unread.open_Server(0));
    EXPECT_EQ(unread.listenerState().text, "config.ini not read : " + why);
}

TEST_F(Runtime, ListenerChangesBecomeStatusLinesAndAnOpenThatFailsEndsAtItsTimeOut) {
    const auto lastLine = [] { return daq::TzrTrace::instance(nullptr).lastLine(); };
    runtime.close_Server();  // closed already: it only reports
    EXPECT_EQ(lastLine(), "2|DAQServer|TCP/IP Server inactive : 127.0.0.1:0|");
    ASSERT_TRUE(runtime.open_Server(ServerRuntime::kOpenTimeoutMs));
    EXPECT_EQ(lastLine(), "2|DAQServer|TCP/IP Server active : 127.0.0.1:0|");
    EXPECT_FALSE(view.addressChoice);
    runtime.IdTCPServer1Status("listening");
    EXPECT_EQ(lastLine(), "2|DAQServer|TCP/IP Server status : listening|");
    EXPECT_TRUE(runtime.open_Server(ServerRuntime::kOpenTimeoutMs));  // open already: no line
    EXPECT_EQ(lastLine(), "2|DAQServer|TCP/IP Server status : listening|");

    ServerRuntime second(&application, {}, view);  // on the port the first one holds
    const std::string port = std::to_string(runtime.listener().localPort());
    second.setListenAddress("127.0.0.1");
    second.setListenPort(runtime.listener().localPort());
    TraceCapture traces;
    EXPECT_FALSE(second.open_Server(30));
    EXPECT_EQ(lastLine(),
              "2|DAQServer|TCP/IP Server active fail(timeout) : 127.0.0.1:" + port + "|");
    EXPECT_TRUE(view.addressChoice);
    EXPECT_TRUE(
        TraceCapture::contains(traces.take(), daq::kTraceError, "TCP/IP Server : active error ["));
    {
        ServerRuntime third(&application, {}, view);
        third.setListenAddress("127.0.0.1");
        third.setListenPort(0);
        ASSERT_TRUE(third.open_Server(ServerRuntime::kOpenTimeoutMs));
    }  // its destruction closes its listener
    EXPECT_EQ(lastLine(), "2|DAQServer|TCP/IP Server inactive : 127.0.0.1:0|");
}

// A fault of one connection is traced when an answer was lost or the connection hit one of the
// server's bounds or time-outs; any other ends the connection quietly.
TEST_F(Runtime, ConnectionFaultsAreTracedWhenAnAnswerIsLostOrABoundIsHit) {
    using namespace daq::tcp;
    const struct {
        int code;
        const char* what;
        const char* traced;  // null: nothing
    } rows[] = {
        {10054, "write to 1.2.3.4:5: Broken pipe",
         "tcp server send error : write to 1.2.3.4:5: Broken pipe"},
        {kConnectionTimedOut, "no input for 1 s, from 1.2.3.4:5",
         "DAQ Server closes connection : no input for 1 s, from 1.2.3.4:5"},
        {kOutputBacklogExceeded, "output over 4096 bytes",
         "TCP/IP Server : connection (new) closed, output over 4096 bytes"},
        {kConnectionLimitReached, "5 connections",
         "TCP/IP Server : connection (new) closed, 5 connections"},
        {10054, "read from 1.2.3.4:5: Connection reset by peer", nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TraceCapture traces;
        ServerRuntime::IdTCPServer1Exception(nullptr, SocketError(row.code, row.what));
        const auto lines = traces.take();
        ASSERT_EQ(lines.size(), row.traced != nullptr ? 1u : 0u);
        if (row.traced != nullptr) {
            EXPECT_EQ(lines[0].text, row.traced);
        }
    }
}

// The host's unhandled-exception event: socket errors are traced with their table's line, other
// errors are not the server's; a destroyed server gives the event back as it found it.
TEST_F(Runtime, OnlySocketErrorsAreTracedWithTheirTableLine) {
    const kelvane::TApplication::ExceptionEvent handler = application.OnException();
    TraceCapture traces;
    handler(nullptr, std::runtime_error("not a socket error"));
    handler(nullptr, daq::tcp::SocketError(10054, "Connection reset by peer"));
    const auto lines = traces.take();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "10054, 서버에서 강제로 연결을 종료하였습니다.");
    EXPECT_EQ(lines[0].line, 383);
    EXPECT_EQ(lines[0].operation + "|" + lines[0].file, "ApplicationEventsException|FormTray");
    {
        ServerRuntime other(&application, {}, view);
        EXPECT_FALSE(application.OnException() == handler);
    }
    EXPECT_TRUE(application.OnException() == handler);
}
