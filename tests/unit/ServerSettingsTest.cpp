// The server window's Qt-free helpers: "config.ini", the local address list and its selection,
// host text formatting and the socket-error texts.
#include <gmock/gmock.h>
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
#include "tests/support/TempDir.h"

namespace fs = std::filesystem;
using namespace daq;
using daq::test::TempDir;
using ::testing::ElementsAre;
using ::testing::StartsWith;

namespace {

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

// The keys share one reader. Each key's range and the field it sets show in its refusal (the
// value kept is the one given for that field); the reader's rules on one key or another.
TEST(ServerConfig, EachKeyIsReadWithinItsRange) {
    ServerLimits given;
    given.maxEventRows = 555;
    given.maxConnections = 7;
    given.maxFrameBytes = 700;
    given.maxOutputBacklog = 70000;
    given.maxDaqDataIndexes = 8;
    given.maxPageEntries = 77;
    given.unfinishedFrameTimeoutSeconds = 9;
    given.idleTimeoutSeconds = 8;
    const std::pair<std::string, std::string> refused[] = {
        // The line, then what follows "is not in ".
        {"MaxConnections=0", "1..65536, 7 kept"},
        {"MaxFrameBytes=67108865", "16..67108864, 700 kept"},
        {"MaxOutputBacklog=-1", "4096..1073741824, 70000 kept"},
        {"MaxPageEntries=12x", "1..1000000, 77 kept"},
        {"MaxDaqDataIndexes=0", "1..1000000, 8 kept"},
        {"RequireLogin=2", "0..1, 0 kept"},
        {"MaxEventRows=99", "100..1000000, 555 kept"},
        {"UnfinishedFrameTimeout=", "0..3600, 9 kept"},
        {"IdleTimeout=1.5", "0..86400, 8 kept"},
        {"IoThreads=17", "1..16, 3 kept"},
        {"RefreshIntervalMs=0", "1..60000, 100 kept"},
        {"DAQServer Port=65536", "0..65535, 5050 kept"},
        {"TlsPort=65536", "0..65535, 0 kept"},
        {"PlainPort=2", "0..1, 1 kept"},
        {"TlsHandshakeTimeout=0", "1..3600, 10 kept"},
    };
    TempDir dir;
    const std::string path = serverConfigPath(dir.path().string());
    for (const auto& [line, problem] : refused) {
        writeFile(path, "[Config]\n" + line + "\n");
        EXPECT_EQ(loadServerConfig(path, given, 3).problems,
                  std::vector<std::string>{"config.ini : " + line + " is not in " + problem});
    }
    for (const char* line : {"TlsClientCerts=yes", "TlsMinVersion=1.1"}) {
        writeFile(path, "[config]\n" + std::string(line) + "\n");
        EXPECT_THAT(
            loadServerConfig(path).problems,
            ElementsAre(StartsWith("config.ini : " + std::string(line) + " is not one of ")));
    }
    // Bounds are values a key takes, 0 turns a time-out off, keys compare without regard to
    // case, and a key that is missing keeps the value given.
    writeFile(path,
              "[config]\nMaxFrameBytes=16\nmaxconnections=65536\nUnfinishedFrameTimeout=0\n"
              "RequireLogin=1\nDAQSERVER PORT=0\ndaqserver addr=10.1.2.3\n"
              "TlsPort=5051\nPlainPort=0\nTlsClientCerts=Required\nTlsMinVersion=1.3\n");
    const ServerSettings read = loadServerConfig(path, given);
    EXPECT_TRUE(read.problems.empty());
    EXPECT_EQ(read.limits.maxFrameBytes, 16u);
    EXPECT_EQ(read.limits.maxConnections, 65536u);
    EXPECT_EQ(read.limits.unfinishedFrameTimeoutSeconds, 0);
    EXPECT_TRUE(read.limits.requireLogin);
    EXPECT_EQ(read.port, 0);
    EXPECT_EQ(read.address, "10.1.2.3");
    EXPECT_EQ(read.limits.maxPageEntries, 77);
    EXPECT_EQ(read.tlsPort, 5051);
    EXPECT_FALSE(read.plainPort);
    EXPECT_EQ(read.tls.clientCerts, tcp::TlsSettings::ClientCerts::Required);
    EXPECT_EQ(read.tls.minVersion, tcp::TlsSettings::MinVersion::Tls13);
}

// The broker publisher's keys: refusals say the range or rule and the value kept (a password is
// never shown), accepted values reach the settings, a password file gives its first line.
TEST(ServerConfig, MqttKeysAreReadWithinTheirRanges) {
    const std::pair<std::string, std::string> refused[] = {
        {"Port=0", "Port=0 is not in 1..65535, 1883 kept"},
        {"QoS=2", "QoS=2 is not in 0..1, 1 kept"},
        {"Deadband=-1", "Deadband=-1 is not in 0..1e+15, 0 kept"},
        {"KeepAlive=4", "KeepAlive=4 is not in 5..3600, 30 kept"},
        {"MaxQueuedValues=0", "MaxQueuedValues=0 is not in 1..10000000, 100000 kept"},
        {"MinIntervalMs=3600001", "MinIntervalMs=3600001 is not in 0..3600000, 0 kept"},
        {"TopicPrefix=a/#",
         "TopicPrefix=a/# is not 1..256 bytes without control characters, + "
         "or #, beginning with neither $ nor / and not ending with /, \"kelvane\" kept"},
        {"Broker=a b",
         "Broker=a b is not 1..253 bytes without control characters or spaces, \"\" kept"},
        {"Password=" + std::string(257, 'x'),
         "Password=(hidden) is not 1..256 bytes without "
         "control characters, (hidden) kept"},
        {"Qos2=1", "unknown key Qos2 ignored"},
    };
    TempDir dir;
    const std::string path = serverConfigPath(dir.path().string());
    for (const auto& [line, problem] : refused) {
        writeFile(path, "[mqtt]\n" + line + "\n");
        EXPECT_EQ(loadServerConfig(path).problems,
                  std::vector<std::string>{"config.ini : [mqtt] " + problem});
    }
    dir.write("pw", "p w\r\nsecond line\n");
    writeFile(path,
              "[MQTT]\nbroker=broker.plant\nPort=8883\nTopicPrefix=site/1\nQoS=0\n"
              "Retain=0\nDeadband=0.25\nPassword=inline\nPasswordFile=" +
                  dir.file("pw") + "\n");
    const ServerSettings read = loadServerConfig(path);
    EXPECT_TRUE(read.problems.empty()) << read.problems.front();
    EXPECT_EQ(read.mqtt.broker, "broker.plant");
    EXPECT_EQ(read.mqtt.port, 8883);
    EXPECT_EQ(read.mqtt.topicPrefix, "site/1");
    EXPECT_EQ(read.mqtt.qos, 0);
    EXPECT_FALSE(read.mqtt.retain);
    EXPECT_EQ(read.mqtt.deadband, 0.25);
    EXPECT_EQ(read.mqtt.password, "p w");
}

TEST(ServerConfig, MissingFileGivesDefaultsAndCreatesNothing) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path().string() + "/");
    EXPECT_EQ(path, dir.path().string() + "/config.ini");
    EXPECT_EQ(loadServerConfig(path).port, 5050);
    EXPECT_FALSE(fs::exists(path));
}

// A "DAQ_DATA" answer at the index bound must fit where list answers are cut (half the output
// bound, 256 bytes an entry).
TEST(ServerConfig, DaqDataIndexesThatDoNotFitTheOutputBoundAreLowered) {
    const struct {
        std::string lines;
        int32_t indexes;
        bool lowered;
    } cases[] = {
        {"MaxDaqDataIndexes=100000\nMaxOutputBacklog=1048576\n", 2048, true},
        {"MaxOutputBacklog=4096\n", 8, false},
        {"MaxDaqDataIndexes=1000000\nMaxOutputBacklog=1073741824\n", 1000000, false},
    };
    TempDir dir;
    const std::string path = serverConfigPath(dir.path().string());
    for (const auto& each : cases) {
        writeFile(path, "[config]\n" + each.lines);
        const ServerSettings settings = loadServerConfig(path);
        EXPECT_EQ(settings.limits.maxDaqDataIndexes, each.indexes) << each.lines;
        const std::string problems = settings.problems.empty() ? "" : settings.problems.front();
        EXPECT_EQ(problems.find("MaxDaqDataIndexes=100000 does not fit MaxOutputBacklog=1048576") !=
                      std::string::npos,
                  each.lowered)
            << problems;
    }
}

// A misspelt key or section leaves its setting at the default, so each is reported.
TEST(ServerConfig, KeysAndSectionsTheServerDoesNotReadAreReported) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path().string());
    writeFile(path, "[confg]\nDAQServer Addr=127.0.0.1\n[config]\nDAQServer Address=127.0.0.1\n");
    const ServerSettings settings = loadServerConfig(path);
    EXPECT_EQ(settings.address, "");
    EXPECT_EQ(settings.problems,
              (std::vector<std::string>{
                  "config.ini : section [confg] is not read; the settings belong in [config]",
                  "config.ini : unknown key DAQServer Address ignored"}));
    EXPECT_EQ(parsePortText("65536"), 5050);
    EXPECT_EQ(parsePortText("65535"), 65535);
}

TEST(ServerConfig, SavingKeepsTheRestOfTheFileAndCreatesWhatIsMissing) {
    TempDir dir;
    const std::string path = serverConfigPath(dir.path().string());
    ASSERT_TRUE(saveServerConfig(path, {"", 5051}));
    EXPECT_EQ(readFile(path).find("[config]"), 0u);
    EXPECT_EQ(loadServerConfig(path).port, 5051);

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
        const std::string path = serverConfigPath(dir.path().string());
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
    writeFile(serverConfigPath(dir.path().string()), keys);
    EXPECT_EQ(loadServerConfig(serverConfigPath(dir.path().string())).readError, "");
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
    EXPECT_TRUE(ipv4AddressesOf(nullptr).empty());
}

// All interfaces first, loopback last; a search takes the last equal entry.
TEST(LocalAddresses, ChoicesAndTheirSearch) {
    using List = std::vector<std::string>;
    EXPECT_EQ(listenAddressChoices({"127.0.0.1", "192.168.0.10", "10.0.0.5", "127.0.1.1"}),
              (List{"0.0.0.0", "192.168.0.10", "10.0.0.5", "127.0.0.1", "127.0.1.1"}));
    EXPECT_EQ(listenAddressChoices({}), List{"0.0.0.0"});
    const List list{"0.0.0.0", "10.0.0.5", "192.168.0.10", "10.0.0.5"};
    EXPECT_EQ(findAddress(list, "10.0.0.5"), 3u);
    EXPECT_EQ(findAddress(list, "172.16.0.1"), std::nullopt);
}

TEST(TextFormat, OnlyTextAndIntegerConversionsAreFormatted) {
    EXPECT_EQ(formatHostText("DAQServer - %s:%d", {std::string_view("10.0.0.5"), int64_t{5050}}),
              "DAQServer - 10.0.0.5:5050");
    // Each conversion takes the next argument of its own kind.
    EXPECT_EQ(formatHostText("%d on %s", {std::string_view("host"), int64_t{7}}), "7 on host");
    // Conversions a host text must not use are copied, not formatted.
    EXPECT_EQ(formatHostText("%n%x%p%5d %s", {std::string_view("a")}), "%n%x%p%5d a");
    // More conversions than arguments: the rest stay as they are.
    EXPECT_EQ(formatHostText("%s %s %d", {std::string_view("a")}), "a %s %d");
    EXPECT_EQ(formatHostText("100%% %", {}), "100% %");
}

// The table's line of each code (its texts: Runtime.OnlySocketErrorsAreTracedWithTheirTableLine);
// an unknown code has a line of its own and the system's text.
TEST(SocketErrorText, TableCodesAndUnknownCodes) {
    for (const auto& [code, line] :
         {std::pair{10050, 381}, {10054, 383}, {10091, 387}, {10048, 388}}) {
        EXPECT_EQ(socketErrorReport(code, "").line, line) << code;
    }
    EXPECT_EQ(socketErrorReport(10048, "Address already in use").text,
              "10048, 알 수 없는 소켓 에러입니다. Address already in use");
}
