// The server as request handlers see it. Handlers reach the server's shared state only through
// this interface; most run one at a time (under the core's request lock), those of routes that
// are not exclusive (dispatcher.h) at the same time as others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kelvane/SystemRecords.h"
#include "server/protocol/ClientState.h"
#include "server/protocol/DeviceInfo.h"
#include "server/protocol/IoRecordSource.h"
#include "server/protocol/LoginCallback.h"
#include "server/protocol/ValueEntries.h"

namespace daq::protocol {

// The client device a "LOGIN" describes (texts UTF-8).
struct LoginDetails {
    std::string id;
    std::string os;
    std::string osVersion;
    std::string modelName;
    std::string location;
};

class ServerState {
  public:
    virtual const IoRecordSource& ioMap() const = 0;
    virtual bool daqRunning() const = 0;
    virtual int32_t daqStatus() const = 0;
    // Null until the host hands its project record over.
    virtual const kelvane::TProjectRecord* project() const = 0;
    virtual TLoginEvent loginCallback() const = 0;
    // The device list as it stands; never null.
    virtual std::shared_ptr<const DeviceEntries> devices() const = 0;
    // The "DAQ_DATA" entries rendered in this DAQ run.
    virtual ValueEntries& valueEntries() = 0;
    // Most entries one "DAQLIST" page may hold.
    virtual int32_t maxPageEntries() const = 0;
    // Most indexes of one "DAQ_DATA" request that are answered.
    virtual int32_t maxDaqDataIndexes() const = 0;
    // A list answer takes no further entry once it is this long.
    virtual std::size_t maxAnswerBytes() const = 0;

    // An accepted login: the user row, the login event and the login popup are queued for the
    // window.
    virtual void loginAccepted(const ClientState& client, const LoginDetails& details) = 0;
    // A refused login: the "Login Fail" event is queued for the window.
    virtual void loginRefused(const ClientState& client, std::string_view id) = 0;

  protected:
    ~ServerState() = default;
};

}  // namespace daq::protocol
