// Live values through a real broker: mosquitto on a loopback port with a password file, the
// real host and plug-in publishing to it, and a subscriber on libmosquitto, as a user's
// dashboard would read them.
#include <gtest/gtest.h>
#include <mosquitto.h>
#include <pwd.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <string>

#include "common/DateTime.h"
#include "server/mqtt/Payload.h"
#include "tests/protocol/ProtocolTestSupport.h"
#include "tests/support/TestCertificates.h"

using namespace daq::test;

namespace {

// A name with the bytes MQTT reserves, a named value and a text, each moving several times a
// second.
const std::string kProject =
    projectFile(R"xml(<project><PROJECT_NAME>Plant/A</PROJECT_NAME></project>
  <io-tree><group name="G">
    <tag name="LEVEL/1+#" unit="m" data-type="5" decimals="2">
      <drive kind="sine" scan-ms="200" min="1" max="3" period-ms="2000"/></tag>
    <tag name="P.STATE" sig-type="1" data-type="3"><values><value name="Stopped" value="0"/>
      <value name="Running" value="1"/></values><drive kind="cycle" scan-ms="300"/></tag>
    <tag name="MSG" sig-type="2" data-type="-1" decimals="-1">
      <drive kind="text" scan-ms="250"><message>a</message><message>b "c"</message></drive></tag>
  </group></io-tree>)xml");
const std::string kBase = "test/Plant%2FA/";
const std::string kTopics[] = {"tags/LEVEL%2F1%2B%23", "tags/P.STATE", "tags/MSG"};

// The test certificates (a CA, the broker's for 127.0.0.1 and localhost, a client's) and the
// lines that give them to a broker and a host.
struct Pki {
    // Lines of mosquitto.conf: the listener speaks TLS and takes clients with a certificate of
    // the CA only.
    std::string listener() const {
        return "cafile " + certs.caFile() + "\ncertfile " + certs.serverCert() + "\nkeyfile " +
               certs.serverKey() + "\nrequire_certificate true\n";
    }
    // [mqtt] lines of a host with the client certificate that trusts the CAs of `caFile`.
    std::vector<std::string> hostLines(const std::string& caFile) const {
        return {"TlsCaFile=" + caFile, "TlsCertFile=" + certs.clientCert(),
                "TlsKeyFile=" + certs.clientKey()};
    }

    TempDir dir;
    TestCertificates certs{dir.path()};
};

class Broker {
  public:
    // `options`: more lines of mosquitto.conf (TLS of the listener, a bridge).
    explicit Broker(uint16_t port, const std::string& options = "") : port_(port) {
        runProgram({"/usr/bin/mosquitto_passwd", "-b", "-c", dir_.file("passwd"), "daq", "s3cret"});
        dir_.write("mosquitto.conf", "listener " + std::to_string(port) +
                                         " 127.0.0.1\nallow_anonymous false\npassword_file " +
                                         dir_.file("passwd") + "\npersistence false\n" +
                                         // Run as root, it would switch to a user who cannot
                                         // read the test's directory.
                                         "user " + ::getpwuid(::getuid())->pw_name + "\n" +
                                         options);
        start();
    }
    void start() {
        program_ = std::make_unique<Program>(
            Args{"/usr/sbin/mosquitto", "-c", dir_.file("mosquitto.conf")});
        ASSERT_TRUE(program_->waitForOutput(" running", 10s)) << program_->err();
    }
    void stop() { program_->stop(); }
    uint16_t port() const { return port_; }

  private:
    TempDir dir_;
    uint16_t port_;
    std::unique_ptr<Program> program_;
};

// Every message under test/#, newest last per topic; connects again when the broker went. With
// `pki`, over TLS with its client certificate.
class Subscriber {
  public:
    explicit Subscriber(uint16_t port, const Pki* pki = nullptr) {
        mosquitto_lib_init();
        client_ = mosquitto_new(nullptr, true, this);
        mosquitto_username_pw_set(client_, "daq", "s3cret");
        if (pki != nullptr) {
            mosquitto_tls_set(client_, pki->certs.caFile().c_str(), nullptr,
                              pki->certs.clientCert().c_str(), pki->certs.clientKey().c_str(),
                              nullptr);
        }
        mosquitto_reconnect_delay_set(client_, 1, 1, false);
        mosquitto_connect_callback_set(client_, [](mosquitto* client, void*, int) {
            mosquitto_subscribe(client, nullptr, "test/#", 1);
        });
        mosquitto_message_callback_set(
            client_, [](mosquitto*, void* self, const mosquitto_message* message) {
                auto& subscriber = *static_cast<Subscriber*>(self);
                std::lock_guard lock(subscriber.mutex_);
                subscriber.messages_[message->topic].emplace_back(
                    static_cast<const char*>(message->payload), message->payloadlen);
                subscriber.arrived_[message->topic] = daq::mqtt::isoTime(daq::nowDateTime());
                subscriber.changed_.notify_all();
            });
        mosquitto_loop_start(client_);
        mosquitto_connect_async(client_, "127.0.0.1", port, 30);
    }
    ~Subscriber() {
        mosquitto_disconnect(client_);
        mosquitto_loop_stop(client_, false);
        mosquitto_destroy(client_);
    }
    using Messages = std::map<std::string, std::vector<std::string>>;
    // True once `done` holds for the messages so far (bounded).
    bool waitFor(const std::function<bool(const Messages&)>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return done(messages_); });
    }
    std::string last(const std::string& topic) {
        std::lock_guard lock(mutex_);
        const auto& list = messages_[kBase + topic];
        return list.empty() ? "" : list.back();
    }
    // When the last message of the topic arrived, in the payloads' form.
    std::string arrived(const std::string& topic) {
        std::lock_guard lock(mutex_);
        return arrived_[kBase + topic];
    }
    // The "time" of the first message of the topic.
    std::string firstTime(const std::string& topic) {
        std::lock_guard lock(mutex_);
        std::smatch time;
        const auto& list = messages_[kBase + topic];
        return !list.empty() &&
                       std::regex_search(list.front(), time, std::regex(R"re("time":"([^"]+)")re"))
                   ? time[1].str()
                   : "";
    }
    void clear() {
        std::lock_guard lock(mutex_);
        messages_.clear();
    }

  private:
    mosquitto* client_;
    std::mutex mutex_;
    std::condition_variable changed_;
    Messages messages_;
    std::map<std::string, std::string> arrived_;
};

bool allHave(const Subscriber::Messages& messages, const std::regex& payload) {
    for (const std::string& topic : kTopics) {
        const auto found = messages.find(kBase + topic);
        if (found == messages.end() || !std::regex_match(found->second.back(), payload)) {
            return false;
        }
    }
    return true;
}

const std::regex kGood(
    R"re(\{"value":[^,]+,"text":"[^"]*(\\"c\\")?","unit":"m?","time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d","quality":"good"\})re");

// `more`: further [mqtt] lines.
HostOptions publishingHost(uint16_t brokerPort, const TempDir& dir,
                           const std::vector<std::string>& more = {},
                           const std::string& password = "s3cret") {
    dir.write("password", password + "\n");
    HostOptions options =
        hostWith(kProject, {"[mqtt]", "Broker=127.0.0.1", "Port=" + std::to_string(brokerPort),
                            "Username=daq", "PasswordFile=" + dir.file("password"),
                            "TopicPrefix=test", "QoS=1"});
    options.configLines.insert(options.configLines.end(), more.begin(), more.end());
    return options;
}

bool allGood(const Subscriber::Messages& messages) {
    return allHave(messages, kGood);
}

// The host's threads and resident memory (KiB), from /proc.
std::size_t threadCount(pid_t pid) {
    const std::filesystem::directory_iterator tasks("/proc/" + std::to_string(pid) + "/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}
long residentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.starts_with("VmRSS:")) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

// A broker, a subscriber on it and a host publishing to it, with every tag's first good value
// received.
class MqttBroker : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(host.start()) << host.log();
        ASSERT_TRUE(subscriber.waitFor(allGood)) << host.log();
    }

    Broker broker{HostProcess::freePort()};
    Subscriber subscriber{broker.port()};
    TempDir dir;
    HostProcess host{publishingHost(broker.port(), dir)};
};

}  // namespace

// What a subscriber sees from the start of a DAQ run to its stop: status, tag list, each tag's
// values in the documented form, then every tag stale and the status offline.
TEST_F(MqttBroker, RunPublishesStatusMetaAndValuesThenStaleAndOffline) {
    EXPECT_EQ(subscriber.last("status"), "online");
    EXPECT_EQ(
        subscriber.last("meta"),
        R"({"project":"Plant/A","tags":[)"
        R"({"index":0,"name":"LEVEL/1+#","topic":"LEVEL%2F1%2B%23","sigType":0,"type":5,"unit":"m","rw":0},)"
        R"({"index":1,"name":"P.STATE","topic":"P.STATE","sigType":1,"type":3,"unit":"","rw":0},)"
        R"({"index":2,"name":"MSG","topic":"MSG","sigType":2,"type":-1,"unit":"","rw":0}]})");
    EXPECT_TRUE(std::regex_search(subscriber.last(kTopics[1]),
                                  std::regex(R"re("value":[01]\.0,"text":"(Stopped|Running)")re")));
    EXPECT_TRUE(std::regex_search(subscriber.last(kTopics[2]),
                                  std::regex(R"re("value":"(a|b \\"c\\")")re")));

    ASSERT_EQ(host.stop(), 0);
    EXPECT_TRUE(subscriber.waitFor([](const auto& messages) {
        return allHave(messages, std::regex(R"(\{"value":.*"quality":"stale"\})")) &&
               messages.at(kBase + "status").back() == "offline";
    }));
}

// The broker goes away for a while and comes back: the publisher connects again and every tag's
// latest value from the outage arrives first (stamped before the publisher said it was back),
// then the values go on. The tries to connect meanwhile leave no thread and no memory behind.
TEST_F(MqttBroker, ValuesOfAnOutageArriveWhenTheBrokerIsBack) {
    const std::size_t threads = threadCount(host.pid());
    const long resident = residentKiB(host.pid());
    broker.stop();
    subscriber.clear();
    ASSERT_TRUE(host.waitForLog("MQTT : connection to 127.0.0.1:" + std::to_string(broker.port()) +
                                " lost"));
    std::this_thread::sleep_for(10s);  // values change meanwhile, each try to connect fails
    broker.start();
    // The broker kept nothing (no persistence): what arrives was published after it came back.
    EXPECT_TRUE(subscriber.waitFor(allGood)) << host.log();
    EXPECT_EQ(subscriber.last("status"), "online");
    for (const std::string& topic : kTopics) {
        EXPECT_LT(subscriber.firstTime(topic), subscriber.arrived("status")) << topic;
    }
    EXPECT_EQ(threadCount(host.pid()), threads);
    EXPECT_LE(residentKiB(host.pid()), resident + 2048);
    // The journal tells the outage from its start to its end, each step once.
    std::string journal;
    std::istringstream log(host.log());
    for (std::string line; std::getline(log, line);) {
        if (line.starts_with("DAQServer: MQTT")) {
            journal += line.substr(0, line.find(" (")) + "\n";
        }
    }
    const std::string endpoint = "127.0.0.1:" + std::to_string(broker.port());
    EXPECT_EQ(journal, "DAQServer: MQTT : connected to " + endpoint +
                           "\nDAQServer: MQTT : connection to " + endpoint +
                           " lost\nDAQServer: MQTT : cannot reach " + endpoint +
                           "\nDAQServer: MQTT : connected to " + endpoint + "\n");
}

// Who may publish: a host that trusts the broker's CA and shows a certificate of it publishes
// over TLS; one that trusts another CA, gives a wrong password or finds the broker down is
// turned away or keeps trying, says why, and publishes nothing.
TEST(MqttBrokerAccess, OnlyAHostThatTrustsAndIsTrustedPublishes) {
    const Pki pki;
    const struct {
        const char* what;
        bool tls;
        bool brokerDown;
        std::vector<std::string> hostLines;
        std::string password;
        std::string logged;  // "<port>" the broker's; empty: every tag's good value arrives
    } cases[] = {
        {"TLS", true, false, pki.hostLines(pki.certs.caFile()), "s3cret", ""},
        {"TLS, the broker down", true, true, pki.hostLines(pki.certs.caFile()), "s3cret",
         "MQTT : cannot reach 127.0.0.1:<port> (the connection was closed), trying again"},
        {"another CA", true, false, pki.hostLines(pki.certs.otherCaFile()), "s3cret",
         "MQTT : cannot reach 127.0.0.1:<port> (OpenSSL Error[0]: error:0A000086:SSL "
         "routines::certificate verify failed), trying again"},
        {"wrong password",
         false,
         false,
         {},
         "guess",
         "MQTT : 127.0.0.1:<port> refused the connection : Connection Refused: not authorised."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Broker broker(HostProcess::freePort(), c.tls ? pki.listener() : "");
        Subscriber subscriber(broker.port(), c.tls ? &pki : nullptr);
        if (c.brokerDown) {
            broker.stop();
        }
        TempDir dir;
        HostProcess host(publishingHost(broker.port(), dir, c.hostLines, c.password));
        ASSERT_TRUE(host.start()) << host.log();
        if (c.logged.empty()) {
            EXPECT_TRUE(subscriber.waitFor(allGood)) << host.log();
        } else {
            const std::string logged =
                std::regex_replace(c.logged, std::regex("<port>"), std::to_string(broker.port()));
            EXPECT_TRUE(host.waitForLog(logged)) << host.log();
            ASSERT_EQ(host.stop(), 0);
            EXPECT_TRUE(subscriber.waitFor([](const auto& messages) { return messages.empty(); }));
            // Each try says the same, and nothing else.
            std::istringstream log(host.log());
            for (std::string line; std::getline(log, line);) {
                EXPECT_TRUE(!line.starts_with("DAQServer: MQTT") || line == "DAQServer: " + logged)
                    << line;
            }
        }
    }
}

// Past one machine as docs/scale-out.md shows it: the broker the host publishes to bridges the
// topics out to a central broker over TLS, where a subscriber receives every value.
TEST(MqttBridge, CarriesTheValuesToTheCentralBroker) {
    const Pki pki;
    Broker central(HostProcess::freePort(), pki.listener());
    Broker site(HostProcess::freePort(),
                "connection central\naddress 127.0.0.1:" + std::to_string(central.port()) +
                    "\ntopic test/# out 1\ncleansession false\nremote_clientid site\n"
                    "remote_username daq\nremote_password s3cret\nbridge_cafile " +
                    pki.certs.caFile() + "\nbridge_certfile " + pki.certs.clientCert() +
                    "\nbridge_keyfile " + pki.certs.clientKey() + "\n");
    Subscriber subscriber(central.port(), &pki);
    TempDir dir;
    HostProcess host(publishingHost(site.port(), dir));
    ASSERT_TRUE(host.start()) << host.log();
    EXPECT_TRUE(subscriber.waitFor(allGood)) << host.log();
}
