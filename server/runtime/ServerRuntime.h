// The server without its window: the settings of "config.ini", the IO map of the DAQ run with
// its refresh thread, the server core and the listener, and the one run state the host moves
// (RunMode, DaqRunning). Qt-free; what it shows goes to a ServerRuntimeView.
//
// Run state (RunMode), as the host's calls move it:
//
//   from RunMode   call                 to      effects
//   1, 2, 3        SetDAQRun(true)      3       map rebuilt and opened, refresh on, listener open
//   3              SetDAQRun(false)     2       refresh idle, listener closed, map empty
//   1, 2           SetDAQRun(false)     same    refresh idle, listener closed, map empty
//   1, 2, 3        Connect()            2       Active; DAQ status 1; device list rebuilt
//   1, 2, 3        Disconnect()         1       DAQ status 0
//   any            setEnableFlag(off)   4
//   4, 0, 2        setEnableFlag(on)    0       (1 and 3 are kept)
//   0, 4           any of the above     same    nothing (but setEnableFlag)
//
// Every call here runs on the window thread; the listener's events run on its IO threads and
// go to the core.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kelvane/Application.h"
#include "kelvane/HostTree.h"
#include "kelvane/ReadMapFile.h"
#include "kelvane/Stopwatch.h"
#include "kelvane/XMLNode.h"
#include "server/core/ServerCore.h"
#include "server/mqtt/Publisher.h"
#include "server/runtime/IoMap.h"
#include "server/runtime/LocalAddresses.h"
#include "server/runtime/RefreshThread.h"
#include "server/runtime/ServerConfig.h"
#include "server/runtime/ServerRuntimeView.h"
#include "server/tcp/TcpServer.h"

namespace daq {

// RunMode values.
enum TRunMode : int32_t {
    rmUncoupled = 0,  // host connect, disconnect, DAQ run and stop are ignored
    rmDisconnected = 1,
    rmConnected = 2,
    rmDaqRunning = 3,
    rmDisabled = 4,
};

struct RuntimeOptions {
    ServerLimits limits{};
    std::size_t ioThreads = kDefaultIoThreads;
    // The machine's IPv4 addresses in adapter order (getLocalIPList).
    std::function<std::vector<std::string>()> localAddresses = localIPv4Addresses;
};

class ServerRuntime {
  public:
    static constexpr int32_t kOpenTimeoutMs = 3000;
    // How often open_Server looks at the listener while it waits for it.
    static constexpr int kOpenPollMs = 10;

    // Reads "config.ini" in `application`'s ExeDir() (the working directory when null) over the
    // options, installs the unhandled-exception handler on `application` and starts the
    // refresh thread.
    ServerRuntime(kelvane::TApplication* application, RuntimeOptions options,
                  ServerRuntimeView& view);
    ServerRuntime(const ServerRuntime&) = delete;
    ServerRuntime& operator=(const ServerRuntime&) = delete;
    // Closes the listener and ends the refresh thread; the core books no logout meanwhile.
    ~ServerRuntime();

    // ---- Run state, moved by the plug-in object ----
    int32_t runMode() const { return RunMode; }
    // The host reads the run state through this address (command 22).
    int32_t* runModeAddress() { return &RunMode; }
    bool active() const { return Active; }
    // The operator's Active switch.
    void setActive(bool active) { Active = active; }
    // Keeps the host's enable flag address and applies it (command 66).
    void setEnableFlag(const int32_t* flag);
    void Connect();
    void Disconnect();
    void ReadConfig(kelvane::IXMLNode* node);
    void WriteConfig(kelvane::IXMLNode* node);
    void SetDAQRun(bool run);
    bool daqRunning() const { return DaqRunning.load(); }

    // ---- Host objects (SendParam) ----
    void setIoTree(kelvane::IHostTree* tree) { ioTree_ = tree; }
    void setSystemTree(kelvane::IHostTree* tree) { core_.setSystemTree(tree); }
    void setProject(const kelvane::TProjectRecord* project) {
        project_ = project;
        core_.setProject(project);
    }
    void setLoginCallback(kelvane::TLoginEvent callback) { core_.setLoginCallback(callback); }

    // ---- Listener ----
    // Opens the listener unless it is open, then waits for it at most `timeoutMs` while the
    // window's events run. False when it did not open in time or the window went away.
    bool open_Server(int32_t timeoutMs);
    void close_Server();
    // Fills the address choice once (at start-up or at the first open of the listener).
    void listAddresses();
    // The operator picked an address: the next open listens there.
    void setServerAddress(std::string address) { ServerAddress = std::move(address); }
    // The host's choice over "config.ini", for the next open of the listener. An address that
    // is not on this machine gives all interfaces, as a stored one does.
    void setListenAddress(std::string address);
    void setListenPort(int32_t port) { ServerPort = port; }
    // The configuration dialog's port: the listener is reopened on it and it is saved in
    // "config.ini". True when the listener opened again.
    bool changePort(int32_t port);
    struct ListenerState {
        bool listening = false;
        // Listening: where, as "<address>:<port>" with the port it bound ("0.0.0.0:5050").
        // Otherwise why: the last open's failure, or that none was tried.
        std::string text;
    };
    ListenerState listenerState() const;
    const std::string& serverAddress() const { return ServerAddress; }
    int32_t serverPort() const { return ServerPort; }

    void ApplicationEventsException(void* sender, const std::exception& error);
    void IdTCPServer1Status(std::string_view text);
    static void IdTCPServer1Exception(const tcp::ConnectionPtr& connection,
                                      const std::exception& error);
    // SIGHUP (an IO thread): the TLS listener's next handshakes use the certificate and key
    // files as they are now; when they fail to load, the old ones stay, with a report.
    void reloadTls();

    tcp::TcpServer& listener() { return IdTCPServer1; }
    ServerCore& core() { return core_; }
    IoMap& ioMap() { return ioMap_; }
    RefreshThread& refreshThread() { return BMThread1; }

  private:
    enum class OpenResult { Open, Failed, ViewGone };
    OpenResult openListener(int32_t timeoutMs);
    // Adds the TLS binding of config.ini with a freshly loaded context, or sets tlsError_.
    void addTlsBinding();
    void wireListener();
    void installExceptionHandler();
    void removeExceptionHandler();
    void loadServerConfig();
    void saveServerConfig();
    std::string configPath() const;
    void selectServerAddress();
    void addDAQIO_Map(kelvane::TTreeNode* node);
    void startDaqRun();
    void stopDaqRun();
    // With [mqtt] Broker set: a publisher for the run's map, fed by the refresh passes.
    void startPublisher();
    // Takes the publisher out of the refresh passes and ends it (stale values, "offline").
    void stopPublisher();
    std::string addressAndPort() const;
    static void sendStatusLine(const std::string& text);
    // Settings the operator has to mend: traced and written to standard error (the journal of
    // a host run as a service).
    static void reportSettingsProblem(const char* operation, const std::string& text);

    kelvane::TApplication* application_;
    kelvane::TApplication::ExceptionEvent previousExceptionHandler_{};
    ServerRuntimeView& view_;
    // "config.ini" as read once at creation; its limits and IO threads start from the
    // options'.
    const ServerSettings configured_;
    const RuntimeOptions options_;

    kelvane::IHostTree* ioTree_ = nullptr;
    const kelvane::TProjectRecord* project_ = nullptr;  // names the broker topics
    const int32_t* EnableFlag = nullptr;
    int32_t RunMode = rmUncoupled;
    bool Active = false;
    std::atomic<bool> DaqRunning{false};
    std::string ServerAddress;
    int32_t ServerPort = 0;
    std::vector<std::string> IPList;
    std::string listenerError_;
    // Why the TLS listener that config.ini asks for is not served; empty when it is, or none
    // was asked for.
    std::string tlsError_;

    kelvane::TReadMapFile ReadMap;
    IoMap ioMap_{ReadMap};
    // Times open_Server's wait for the listener.
    kelvane::Stopwatch stopwatch_;
    ServerCore core_;
    RefreshThread BMThread1;
    // The broker publisher of the DAQ run; null when off or no run is on.
    std::unique_ptr<mqtt::Publisher> publisher_;
    // Last member: destroyed first, so no listener event reaches a destroyed member.
    tcp::TcpServer IdTCPServer1;
};

}  // namespace daq
