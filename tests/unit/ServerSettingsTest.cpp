// The server window's Qt-free helpers: "config.ini", the local address list and its selection,
// host text formatting and the socket-error texts.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "server/runtime/LocalAddresses.h"
#include "server/runtime/ServerConfig.h"
#include "server/runtime/SocketErrorText.h"
#include "server/runtime/TextFormat.h"

namespace fs = std::filesystem;
using namespace daq;

namespace {

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "daq-settings-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

}  // namespace

TEST(ServerConfig, MissingFileGivesDefaultsAndCreatesNothing) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    EXPECT_EQ(path, dir.path() + "/config.ini");
    const ServerSettings settings = loadServerConfig(path);
    EXPECT_EQ(settings.address, "");
    EXPECT_EQ(settings.port, 5050);
    EXPECT_FALSE(fs::exists(path));
}

TEST(ServerConfig, LimitsAreReadWithinTheirRanges) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    writeFile(path,
              "[config]\nMaxConnections=65536\nMaxFrameBytes=16\nMaxOutputBacklog=4096\n"
              "maxpageentries=1000000\nRequireLogin=1\nMaxEventRows=100\n");
    const ServerLimits limits = loadServerConfig(path).limits;
    EXPECT_EQ(limits.maxEventRows, 100);
    EXPECT_EQ(limits.maxConnections, 65536u);
    EXPECT_EQ(limits.maxFrameBytes, 16u);
    EXPECT_EQ(limits.maxOutputBacklog, 4096u);
    EXPECT_EQ(limits.maxPageEntries, 1000000);
    EXPECT_TRUE(limits.requireLogin);
}

// A "DAQ_DATA" answer at the index bound must fit where list answers are cut (half the output
// bound, 256 bytes an entry).
TEST(ServerConfig, DaqDataIndexesThatDoNotFitTheOutputBoundAreLowered) {
    const struct {
        std::string lines;
        int32_t indexes;
    } cases[] = {
        {"", 32768},
        {"MaxDaqDataIndexes=1000\nMaxOutputBacklog=1048576\n", 1000},
        {"MaxDaqDataIndexes=100000\nMaxOutputBacklog=1048576\n", 2048},
        {"MaxOutputBacklog=4096\n", 8},
        {"MaxDaqDataIndexes=1000000\nMaxOutputBacklog=1073741824\n", 1000000},
    };
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    for (const auto& each : cases) {
        writeFile(path, "[config]\n" + each.lines);
        const ServerSettings settings = loadServerConfig(path);
        EXPECT_EQ(settings.limits.maxDaqDataIndexes, each.indexes) << each.lines;
        const bool lowered = each.lines.find("MaxDaqDataIndexes=100000\n") == 0;
        const std::string problems = settings.problems.empty() ? "" : settings.problems.front();
        EXPECT_EQ(problems.find("MaxDaqDataIndexes=100000 does not fit MaxOutputBacklog=1048576") !=
                      std::string::npos,
                  lowered)
            << problems;
    }
}

TEST(ServerConfig, LimitOutOfRangeOrMissingKeepsTheGivenValue) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    writeFile(path,
              "[config]\nMaxConnections=0\nMaxFrameBytes=67108865\nMaxOutputBacklog=-1\n"
              "MaxPageEntries=12x\nRequireLogin=2\nMaxEventRows=99\n");
    ServerLimits given;
    given.maxEventRows = 555;
    given.maxConnections = 7;
    given.maxFrameBytes = 700;
    given.maxOutputBacklog = 70000;
    given.maxDaqDataIndexes = 100;
    given.maxPageEntries = 77;
    const ServerSettings read = loadServerConfig(path, given);
    const ServerLimits& limits = read.limits;
    EXPECT_EQ(read.problems,
              (std::vector<std::string>{"config.ini : MaxConnections=0 is not in 1..65536, 7 kept",
                                        "config.ini : MaxFrameBytes=67108865 is not in "
                                        "16..67108864, 700 kept",
                                        "config.ini : MaxOutputBacklog=-1 is not in "
                                        "4096..1073741824, 70000 kept",
                                        "config.ini : MaxPageEntries=12x is not in 1..1000000, "
                                        "77 kept",
                                        "config.ini : RequireLogin=2 is not in 0..1, 0 kept",
                                        "config.ini : MaxEventRows=99 is not in 100..1000000, "
                                        "555 kept"}));
    EXPECT_EQ(limits.maxConnections, 7u);
    EXPECT_EQ(limits.maxFrameBytes, 700u);
    EXPECT_EQ(limits.maxOutputBacklog, 70000u);
    EXPECT_EQ(limits.maxPageEntries, 77);
    EXPECT_FALSE(limits.requireLogin);
    EXPECT_EQ(limits.maxEventRows, 555);

    writeFile(path, "[config]\nDAQServer Port=6001\n");
    const ServerSettings kept = loadServerConfig(path, given);
    EXPECT_EQ(kept.limits.maxConnections, 7u);
    EXPECT_EQ(kept.limits.maxPageEntries, 77);
    EXPECT_TRUE(kept.problems.empty());
}

TEST(ServerConfig, TimeOutsIoThreadsAndRefreshIntervalAreReadWithinTheirRanges) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    const ServerSettings defaults = loadServerConfig(path);
    EXPECT_EQ(defaults.limits.unfinishedFrameTimeoutSeconds, 30);
    EXPECT_EQ(defaults.limits.idleTimeoutSeconds, 0);
    EXPECT_EQ(defaults.ioThreads, 2u);
    EXPECT_EQ(defaults.refreshIntervalMs, 100);

    // 0 turns a time-out off; each upper end is inside the range.
    writeFile(path,
              "[config]\nUnfinishedFrameTimeout=0\nIdleTimeout=86400\nIoThreads=16\n"
              "RefreshIntervalMs=60000\n");
    ServerSettings read = loadServerConfig(path);
    EXPECT_EQ(read.limits.unfinishedFrameTimeoutSeconds, 0);
    EXPECT_EQ(read.limits.idleTimeoutSeconds, 86400);
    EXPECT_EQ(read.ioThreads, 16u);
    EXPECT_EQ(read.refreshIntervalMs, 60000);

    writeFile(path,
              "[config]\nUnfinishedFrameTimeout=3600\nIdleTimeout=0\nIoThreads=1\n"
              "RefreshIntervalMs=1\n");
    read = loadServerConfig(path);
    EXPECT_EQ(read.limits.unfinishedFrameTimeoutSeconds, 3600);
    EXPECT_EQ(read.limits.idleTimeoutSeconds, 0);
    EXPECT_EQ(read.ioThreads, 1u);
    EXPECT_EQ(read.refreshIntervalMs, 1);
}

TEST(ServerConfig, TimeOutsIoThreadsAndRefreshIntervalOutOfRangeOrMalformedKeepTheirValue) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    ServerLimits given;
    given.unfinishedFrameTimeoutSeconds = 9;
    given.idleTimeoutSeconds = 8;
    for (const char* values :
         {"UnfinishedFrameTimeout=3601\nIdleTimeout=86401\nIoThreads=17\nRefreshIntervalMs=60001\n",
          "UnfinishedFrameTimeout=-1\nIdleTimeout=1.5\nIoThreads=0\nRefreshIntervalMs=0\n",
          "UnfinishedFrameTimeout=\nIdleTimeout=30s\nIoThreads=two\nRefreshIntervalMs=1s\n"}) {
        writeFile(path, std::string("[config]\n") + values);
        const ServerSettings read = loadServerConfig(path, given, 3);
        EXPECT_EQ(read.limits.unfinishedFrameTimeoutSeconds, 9) << values;
        EXPECT_EQ(read.limits.idleTimeoutSeconds, 8) << values;
        EXPECT_EQ(read.ioThreads, 3u) << values;
        EXPECT_EQ(read.refreshIntervalMs, 100) << values;
        EXPECT_EQ(read.problems.size(), 4u) << values;
    }
}

TEST(ServerConfig, ReadsKeysWithoutRegardToCase) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path() + "/");
    writeFile(path, "[Config]\ndaqserver addr=10.1.2.3\nDAQSERVER PORT=6000\n");
    const ServerSettings settings = loadServerConfig(path);
    EXPECT_EQ(settings.address, "10.1.2.3");
    EXPECT_EQ(settings.port, 6000);
    EXPECT_TRUE(settings.problems.empty());
}

// A misspelt key or section leaves its setting at the default, so each is reported.
TEST(ServerConfig, KeysAndSectionsTheServerDoesNotReadAreReported) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    writeFile(path, "[confg]\nDAQServer Addr=127.0.0.1\n[config]\nDAQServer Address=127.0.0.1\n");
    const ServerSettings settings = loadServerConfig(path);
    EXPECT_EQ(settings.address, "");
    EXPECT_EQ(settings.problems,
              (std::vector<std::string>{
                  "config.ini : section [confg] is not read; the settings belong in [config]",
                  "config.ini : unknown key DAQServer Address ignored"}));
}

TEST(ServerConfig, PortThatIsNotANumberGivesTheDefault) {
    for (const char* text : {"abc", "60x", "", "-1", "65536", "99999999999"}) {
        EXPECT_EQ(parsePortText(text), 5050) << text;
    }
    EXPECT_EQ(parsePortText("0"), 0);
    EXPECT_EQ(parsePortText("65535"), 65535);

    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    writeFile(path, "[config]\nDAQServer Port=port\n");
    const ServerSettings read = loadServerConfig(path);
    EXPECT_EQ(read.port, 5050);
    EXPECT_EQ(read.problems, std::vector<std::string>{
                                 "config.ini : DAQServer Port=port is not in 0..65535, 5050 kept"});
}

TEST(ServerConfig, SavingKeepsTheRestOfTheFile) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    writeFile(path, "[other]\nkeep=yes\n[config]\ndaqserver port=6000\nExtra=1\n");
    ASSERT_TRUE(saveServerConfig(path, {"192.168.0.10", 5050}));
    const std::string text = readFile(path);
    EXPECT_NE(text.find("keep=yes"), std::string::npos) << text;
    EXPECT_NE(text.find("Extra=1"), std::string::npos) << text;
    EXPECT_EQ(text.find("6000"), std::string::npos) << text;
    const ServerSettings settings = loadServerConfig(path);
    EXPECT_EQ(settings.address, "192.168.0.10");
    EXPECT_EQ(settings.port, 5050);
}

TEST(ServerConfig, SavingCreatesFileAndSection) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path());
    ASSERT_TRUE(saveServerConfig(path, {"", 5051}));
    const std::string text = readFile(path);
    EXPECT_NE(text.find("[config]"), std::string::npos) << text;
    EXPECT_NE(text.find("DAQServer Port"), std::string::npos) << text;
    EXPECT_EQ(loadServerConfig(path).port, 5051);
}

TEST(ServerConfig, FileThatCannotBeReadWholeIsAnErrorAndIsNotOverwritten) {
    const std::string keys = "[config]\nDAQServer Port=6000\n";
    const struct {
        std::string text;  // empty: a directory in place of the file
        std::string error;
    } cases[] = {
        {keys + ";" + std::string(kMaxConfigFileBytes, 'x'),
         "larger than the limit of 1048576 bytes"},
        {"", "not a regular file"},
        {std::string("[config]\0\n", 10) + keys, "holds a zero byte at offset 8"},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = serverConfigPath(dir.path());
        if (c.text.empty()) {
            fs::create_directory(path);
        } else {
            writeFile(path, c.text);
        }
        const ServerSettings settings = loadServerConfig(path);
        EXPECT_EQ(settings.readError, path + ": " + c.error);
        EXPECT_EQ(settings.port, 5050) << c.error;
        EXPECT_FALSE(saveServerConfig(path, {"127.0.0.1", 5051})) << c.error;
        if (!c.text.empty()) {
            EXPECT_EQ(readFile(path), c.text) << c.error;
        }
    }
    TempDir dir;
    writeFile(serverConfigPath(dir.path()), keys);
    EXPECT_EQ(loadServerConfig(serverConfigPath(dir.path())).readError, "");
}

namespace {

// A hand-built interface list in the shape getifaddrs returns.
class InterfaceList {
  public:
    void add(const char* name, const char* ipv4) {
        Entry& entry = entries_[count_++];
        entry.node.ifa_name = const_cast<char*>(name);
        if (ipv4 != nullptr) {
            entry.address.sin_family = AF_INET;
            inet_pton(AF_INET, ipv4, &entry.address.sin_addr);
            entry.node.ifa_addr = reinterpret_cast<sockaddr*>(&entry.address);
        }
        if (count_ > 1) {
            entries_[count_ - 2].node.ifa_next = &entry.node;
        }
    }
    const ifaddrs* head() const { return count_ == 0 ? nullptr : &entries_[0].node; }

  private:
    struct Entry {
        ifaddrs node{};
        sockaddr_in address{};
    };
    Entry entries_[8];
    int count_ = 0;
};

}  // namespace

TEST(LocalAddresses, InterfaceOrderAndInterfacesWithoutIPv4GiveNothing) {
    InterfaceList list;
    list.add("lo", nullptr);  // the packet entry comes first
    list.add("eth0", nullptr);
    list.add("lo", "127.0.0.1");
    list.add("eth0", "192.168.0.10");
    list.add("wlan0", nullptr);
    list.add("eth0", "10.0.0.5");
    EXPECT_EQ(ipv4AddressesOf(list.head()),
              (std::vector<std::string>{"127.0.0.1", "192.168.0.10", "10.0.0.5"}));
    EXPECT_EQ(ipv4AddressesOf(list.head(), 2),
              (std::vector<std::string>{"127.0.0.1", "192.168.0.10", "10.0.0.5"}));
    EXPECT_TRUE(ipv4AddressesOf(nullptr).empty());
}

TEST(LocalAddresses, ThisMachineListsItsLoopbackAddress) {
    const std::vector<std::string> addresses = localIPv4Addresses();
    EXPECT_NE(std::find(addresses.begin(), addresses.end(), "127.0.0.1"), addresses.end());
}

TEST(LocalAddresses, ChoicesOfferAllInterfacesFirstAndLoopbackLast) {
    using List = std::vector<std::string>;
    EXPECT_EQ(listenAddressChoices({"127.0.0.1", "192.168.0.10", "10.0.0.5", "127.0.1.1"}),
              (List{"0.0.0.0", "192.168.0.10", "10.0.0.5", "127.0.0.1", "127.0.1.1"}));
    EXPECT_EQ(listenAddressChoices({"0.0.0.0", "127.0.0.1"}), (List{"0.0.0.0", "127.0.0.1"}));
    EXPECT_EQ(listenAddressChoices({}), List{"0.0.0.0"});
}

TEST(LocalAddresses, FindingTakesTheLastEqualEntry) {
    const std::vector<std::string> list{"0.0.0.0", "10.0.0.5", "192.168.0.10", "10.0.0.5"};
    EXPECT_EQ(findAddress(list, "10.0.0.5"), 3u);
    EXPECT_EQ(findAddress(list, "192.168.0.10"), 2u);
    EXPECT_EQ(findAddress(list, "0.0.0.0"), 0u);
    EXPECT_EQ(findAddress(list, "172.16.0.1"), std::nullopt);
    EXPECT_EQ(findAddress(list, ""), std::nullopt);
}

TEST(TextFormat, OnlyTextAndIntegerConversionsAreFormatted) {
    EXPECT_EQ(formatHostText("DAQServer - %s:%d", {std::string_view("10.0.0.5"), int64_t{5050}}),
              "DAQServer - 10.0.0.5:5050");
    // Each conversion takes the next argument of its own kind.
    EXPECT_EQ(formatHostText("%d on %s", {std::string_view("host"), int64_t{7}}), "7 on host");
    EXPECT_EQ(formatHostText("100%% %s", {std::string_view("done")}), "100% done");
    // Conversions a host text must not use are copied, not formatted.
    EXPECT_EQ(formatHostText("%n%x%p%5d %s", {std::string_view("a")}), "%n%x%p%5d a");
    // More conversions than arguments: the rest stay as they are.
    EXPECT_EQ(formatHostText("%s %s %d", {std::string_view("a")}), "a %s %d");
    EXPECT_EQ(formatHostText("trailing %", {}), "trailing %");
    EXPECT_EQ(formatHostText("", {std::string_view("a")}), "");
}

TEST(SocketErrorText, TableCodesAndUnknownCodes) {
    const SocketErrorReport reset = socketErrorReport(10054, "Connection reset by peer");
    EXPECT_EQ(reset.line, 383);
    EXPECT_EQ(reset.text, "10054, 서버에서 강제로 연결을 종료하였습니다.");
    EXPECT_EQ(socketErrorReport(10050, "").line, 381);
    EXPECT_EQ(socketErrorReport(10051, "").line, 382);
    EXPECT_EQ(socketErrorReport(10060, "").line, 384);
    EXPECT_EQ(socketErrorReport(10061, "").text, "10061, 서버에 연결할 수 없습니다.");
    EXPECT_EQ(socketErrorReport(10064, "").line, 386);
    EXPECT_EQ(socketErrorReport(10091, "").line, 387);
    const SocketErrorReport unknown = socketErrorReport(10048, "Address already in use");
    EXPECT_EQ(unknown.line, 388);
    EXPECT_EQ(unknown.text, "10048, 알 수 없는 소켓 에러입니다. Address already in use");
}
