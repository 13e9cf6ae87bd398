// Fuzz target: the bytes a client sends on one connection, through the server core's receive
// pass (frames, UTF-8, JSON, dispatch) into the real request handlers, over the stand-in host's
// demo plant: IO tags of every signal type with values, units with parameters of every type,
// users who may and may not write.
//
// An input that starts with 0xFF carries a header, then the payload:
//   0xFF, flags, cuts, then (cuts & 7) chunk lengths (a byte b: a chunk of b + 1 bytes)
// Any other input is payload only, with no flags and one chunk.
//   flags bits 0-1  a login before the payload: 1 admin (may write), 2 viewer, 3 a refused one
//   flags bit 2     the server with tight limits (login required, small frames and pages, the
//                   second refused login closes)
//   flags bit 3     the unit with every parameter type ("ST01") selected before the payload
//   flags bit 4     the DAQ run on
// A payload without STX is sent as one frame around it, so that plain JSON texts are requests.
// The payload goes in as one data event per chunk and the rest in a last one: frames arrive cut
// anywhere, as reads of a socket cut them.
//
// Checked on every input (a failed check aborts): each write is STX, a JSON object in valid UTF-8
// led by "PS_ID": true, ETX and a zero byte; no more answers than the payload's STX bytes; the
// header's login gets its answer; after the disconnect no client stays booked.
#include <crypt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/error/en.h>

#include "host/core/DemoProject.h"
#include "host/core/Login.h"
#include "host/core/Plant.h"
#include "host/core/TagDriver.h"
#include "kelvane/ReadMapFile.h"
#include "server/core/ServerCore.h"
#include "server/protocol/Frame.h"
#include "server/runtime/IoMap.h"
#include "tests/support/MemoryConnection.h"
#include "tests/support/TimerLog.h"
#include "trace/TraceTransport.h"

namespace {

constexpr unsigned char kHeaderMark = 0xFF;
constexpr unsigned kMaxCuts = 7;
constexpr unsigned kLoginBits = 0x03;
constexpr unsigned kTightLimits = 0x04;
constexpr unsigned kSelectUnit = 0x08;
constexpr unsigned kDaqRun = 0x10;

// The tight server: every limit small enough for short inputs to reach it.
daq::ServerLimits tightLimits() {
    daq::ServerLimits limits;
    limits.maxFrameBytes = 128;  // the logins of the header fit
    limits.maxPageEntries = 4;
    limits.requireLogin = true;
    limits.maxRefusedLogins = 2;
    return limits;
}

[[noreturn]] void fail(const char* what, std::string_view bytes) {
    std::fprintf(stderr, "receive_path: %s: \"%.*s\"\n", what, static_cast<int>(bytes.size()),
                 bytes.data());
    std::abort();
}

// sha512-crypt at its lowest round count: a login costs well under a millisecond, where the
// demo's yescrypt hashes would cost several per input.
std::string quickHash(const char* password) {
    static crypt_data data{};
    const char* hash = crypt_rn(password, "$6$rounds=1000$fuzz$", &data, sizeof data);
    if (hash == nullptr || hash[0] == '*') {
        fail("cannot make a password hash", password);
    }
    return hash;
}

host::Project fuzzProject() {
    host::Project project = host::makeDemoProject();
    project.users = {{"admin", quickHash("admin"), true}, {"viewer", quickHash("viewer"), false}};
    return project;
}

std::string frame(std::string_view text) {
    std::string bytes;
    daq::protocol::buildFrame(text, bytes, daq::protocol::FrameTrailer::None);
    return bytes;
}

// The answer texts of the connection's writes; aborts unless each is a framed JSON object led by
// "PS_ID": true.
std::vector<std::string> checkedAnswers(daq::test::MemoryConnection& connection) {
    using namespace daq::protocol;
    std::vector<std::string> answers;
    for (const std::string& write : connection.takeWrites()) {
        if (write.size() < 4 || write.front() != kStx || write[write.size() - 2] != kEtx ||
            write.back() != kMessageEnd) {
            fail("a write is no answer frame", write);
        }
        const std::string& text = answers.emplace_back(write.substr(1, write.size() - 3));
        rapidjson::Document answer;
        answer.Parse<rapidjson::kParseValidateEncodingFlag>(text.c_str(), text.size());
        if (answer.HasParseError()) {
            fail(rapidjson::GetParseError_En(answer.GetParseError()), text);
        }
        if (!answer.IsObject() || answer.MemberCount() == 0 ||
            std::string_view(answer.MemberBegin()->name.GetString()) != "PS_ID" ||
            !answer.MemberBegin()->value.IsTrue()) {
            fail("an answer does not begin with \"PS_ID\": true", text);
        }
    }
    return answers;
}

struct Input {
    unsigned flags = 0;
    std::string payload;
    std::vector<std::size_t> cuts;  // lengths of the chunks before the last
};

Input readInput(const std::uint8_t* data, std::size_t size) {
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    // The next byte of the header; 0 once the input is used up.
    const auto take = [&rest]() -> unsigned {
        if (rest.empty()) {
            return 0;
        }
        const auto byte = static_cast<unsigned char>(rest.front());
        rest.remove_prefix(1);
        return byte;
    };
    Input input;
    if (!rest.empty() && static_cast<unsigned char>(rest.front()) == kHeaderMark) {
        take();
        input.flags = take();
        for (unsigned count = take() & kMaxCuts; count > 0 && !rest.empty(); --count) {
            input.cuts.push_back(take() + 1u);
        }
    }
    input.payload =
        rest.find(daq::protocol::kStx) == std::string_view::npos ? frame(rest) : std::string(rest);
    return input;
}

// The host side, built once: the demo plant, its values, its users, and two servers over it.
class Harness {
  public:
    Harness() : project_(fuzzProject()), login_(project_.users) {
        // Traces go nowhere: the channel sends nothing to a socket in a directory that others
        // can write, such as the temporary directory.
        const std::filesystem::path traceSocket =
            std::filesystem::temp_directory_path() / "receive-path-fuzz.sock";
        ::setenv("KELVANE_TRACE_SOCKET", traceSocket.c_str(), 1);
        daq::traceReloadSocketPath();
        for (daq::ServerCore* core : {&standard_, &tight_}) {
            core->setLoginCallback(login_.callback());
        }
        connectPlant();
    }

    void run(const Input& input) {
        daq::ServerCore& core = (input.flags & kTightLimits) != 0 ? tight_ : standard_;
        // Each input starts a run of its own, so that no rendering of an earlier one is reused.
        core.startDaqRun();
        daqRunning_ = (input.flags & kDaqRun) != 0;
        core.setDaqStatus((input.flags & kDaqRun) != 0 ? 2 : 1);

        auto connection = std::make_shared<daq::test::MemoryConnection>(++lastId_, "10.0.0.1");
        core.onConnect(connection);
        logIn(core, connection, input.flags & kLoginBits);
        if ((input.flags & kSelectUnit) != 0) {
            core.onData(connection, frame(kSelectRequest));
            checkedAnswers(*connection);
        }
        std::string_view rest(input.payload);
        for (std::size_t c = 0; c <= input.cuts.size(); ++c) {
            const std::size_t taken = c < input.cuts.size() ? input.cuts[c] : rest.size();
            daq::test::deliverAll(rest.substr(0, taken), [&](std::string_view bytes) {
                return core.onData(connection, bytes);
            });
            rest.remove_prefix(std::min(taken, rest.size()));
        }
        const std::size_t answers = checkedAnswers(*connection).size();
        if (answers > static_cast<std::size_t>(std::count(
                          input.payload.begin(), input.payload.end(), daq::protocol::kStx))) {
            fail("more answers than requests", input.payload);
        }
        connection->close();
        core.onDisconnect(connection);
        if (core.clientCount() != 0) {
            fail("a client stays booked after its disconnect", input.payload);
        }
        // What the window's timers do: take every queue, then empty the "Login Users" list.
        core.takeLogins();
        core.takeLogouts();
        core.takeEvents();
        core.takePopups();
        core.rowsCleared();
        if (parameterWrites() != 0) {
            connectPlant();  // written parameters stay within their input
        }
    }

  private:
    static constexpr std::string_view kSelectRequest =
        R"({"PS_ID":"PARAMETERLISTCOUNT","INTERFACE":"Ethernet 1 - Modbus/TCP 192.168.10.0/24",)"
        R"("DEVICENAME":"Intake PLC","STATION":"ST01"})";

    void logIn(daq::ServerCore& core,
               const std::shared_ptr<daq::test::MemoryConnection>& connection, unsigned login) {
        static constexpr std::string_view kLogins[] = {
            {},  // no login
            R"({"PS_ID":"LOGIN","ID":"admin","PW":"admin","DEVICE":{"OS":"Linux"}})",
            R"({"PS_ID":"LOGIN","ID":"viewer","PW":"viewer"})",
            R"({"PS_ID":"LOGIN","ID":"admin","PW":"wrong"})",
        };
        if (login == 0) {
            return;
        }
        core.onData(connection, frame(kLogins[login]));
        const std::vector<std::string> answers = checkedAnswers(*connection);
        const std::string_view expected =
            login == 3 ? R"({"PS_ID":true,"RESULT":false})" : R"({"PS_ID":true,"RESULT":true})";
        if (answers.size() != 1 || answers.front() != expected) {
            fail("the login of the header is not answered as it should be", kLogins[login]);
        }
    }

    // A fresh plant handed to both servers as the host's connect step hands it: project record,
    // system tree and device list, and the IO map with the value the host's simulator gives each
    // tag a minute into a run.
    void connectPlant() {
        constexpr double kValueTime = 46000.375;  // a morning in 2025, in host days
        auto fresh = std::make_unique<host::Plant>(project_);
        ioMap_.clear();
        for (const host::IoRecords::Tag& tag : fresh->io().tags()) {
            host::TagDriver driver(*tag.spec, 1);
            tag.record->Current = driver.next(std::chrono::minutes(1), kValueTime);
            ioMap_.add(tag.record);
        }
        for (daq::ServerCore* core : {&standard_, &tight_}) {
            core->setProject(fresh->projectRecord());
            core->setSystemTree(&fresh->system().tree());
            core->rebuildDeviceList();
        }
        plant_ = std::move(fresh);
    }

    int parameterWrites() const {
        int count = 0;
        for (const host::SystemRecords::Unit& unit : plant_->system().units()) {
            count += unit.pinz != nullptr ? unit.pinz->calls().writes : 0;
        }
        return count;
    }

    const host::Project project_;
    host::LoginService login_;
    std::unique_ptr<host::Plant> plant_;  // outlives the map and the servers that point into it
    kelvane::TReadMapFile readMap_;
    daq::IoMap ioMap_{readMap_};
    daq::test::TimerLog timers_;
    std::atomic<bool> daqRunning_{false};
    daq::ServerCore standard_{ioMap_, daqRunning_, timers_};
    daq::ServerCore tight_{ioMap_, daqRunning_, timers_, tightLimits()};
    std::uint64_t lastId_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    harness.run(readInput(data, size));
    return 0;
}
