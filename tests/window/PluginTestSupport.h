// Shared ground of the window tests: the host's application object, made before the first test
// and destroyed after the last (a THostApplication whose executable directory is a private
// temporary directory, where the server keeps "config.ini"), and small helpers.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "host/core/XmlNode.h"
#include "host/core/XmlSource.h"
#include "kelvane/HostApplication.h"
#include "kelvane/Pinz.h"
#include "tests/support/TempDir.h"

class HostApplicationEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        directory_ = std::make_unique<daq::test::TempDir>();
        exeDir_ = directory_->path().string();
        application_ = std::make_unique<kelvane::THostApplication>(argc_, argv_, exeDir_);
    }
    void TearDown() override {
        application_.reset();
        directory_.reset();
    }

    static kelvane::THostApplication& application() { return *application_; }
    static const std::string& exeDir() { return exeDir_; }
    static std::string configPath() { return exeDir_ + "/config.ini"; }

  private:
    int argc_ = 1;
    char name_[12] = "plugin_test";
    char* argv_[2] = {name_, nullptr};
    static inline std::unique_ptr<daq::test::TempDir> directory_;
    static inline std::unique_ptr<kelvane::THostApplication> application_;
    static inline std::string exeDir_;
};

[[maybe_unused]] static ::testing::Environment* const hostApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new HostApplicationEnvironment);

inline void writeConfig(const std::string& text) {
    std::ofstream(HostApplicationEnvironment::configPath()) << text;
}

inline void removeConfig() {
    std::filesystem::remove(HostApplicationEnvironment::configPath());
}

// A port nobody listens on at the moment (the system's pick for an ephemeral bind).
inline uint16_t freeLoopbackPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

// Runs the window thread's events until `condition` holds or the time runs out.
template <typename Condition>
bool processEventsUntil(Condition condition, int timeoutMs = 5000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!condition()) {
        if (elapsed.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// The calls of the host's Active-change handler.
struct ActiveChanges {
    int calls = 0;
    void* sender = nullptr;
    kelvane::TActivateEvent closure() {
        return {[](void* data, void* sender) {
                    auto* self = static_cast<ActiveChanges*>(data);
                    ++self->calls;
                    self->sender = sender;
                },
                this};
    }
};

// An XML document of the host, with its nodes as the plug-in sees them.
class HostXml {
  public:
    static constexpr std::size_t kMaxBytes = 1 << 20;

    explicit HostXml(const std::string& text)
        : source_(host::XmlSource::fromText(text, "test.xml", kMaxBytes)) {}
    kelvane::IXMLNode* root() { return nodes_.wrap(source_.document().document_element()); }
    pugi::xml_node element() { return source_.document().document_element(); }

  private:
    host::XmlSource source_;
    host::XmlNodes nodes_;
};

// A language root node whose server texts are "text0", "text1", ... (`count` of them).
inline std::string languageXml(int count) {
    std::string xml = "<lang><_11>";
    for (int i = 0; i < count; ++i) {
        xml += "<t>text" + std::to_string(i) + "</t>";
    }
    return xml + "</_11></lang>";
}
