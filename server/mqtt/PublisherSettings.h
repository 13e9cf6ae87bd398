// The publisher's settings, section [mqtt] of "config.ini" (docs/configuration.md has each
// key's range).
#pragma once

#include <cstdint>
#include <string>

namespace daq::mqtt {

inline constexpr const char* kDefaultTopicPrefix = "kelvane";

struct PublisherSettings {
    std::string broker;  // host name or address; empty: no publishing
    int32_t port = 1883;
    std::string clientId;  // empty: "daqserver-<host name>"
    std::string username;  // empty: none
    std::string password;  // from Password or PasswordFile
    std::string topicPrefix = kDefaultTopicPrefix;
    int32_t qos = 1;
    bool retain = true;
    int32_t minIntervalMs = 0;
    double deadband = 0;
    int32_t keepAliveSeconds = 30;
    std::string tlsCaFile;  // set: the connection is TLS
    std::string tlsCertFile;
    std::string tlsKeyFile;
    int32_t maxQueuedValues = 100000;
};

}  // namespace daq::mqtt
