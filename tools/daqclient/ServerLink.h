// daqclient's connection to the server: connects (and logs in when a user is given), sends
// requests and turns every way a request can fail into a CommandError with its exit code.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "tools/client/DaqClient.h"
#include "tools/daqclient/ExitCode.h"
#include "tools/daqclient/Options.h"

namespace daqclient {

struct Credentials {
    std::string user;
    std::string password;
};

class ServerLink {
  public:
    ServerLink(const GlobalOptions& options, std::optional<Credentials> credentials);

    // Connects, then logs in when credentials were given. CommandError: ConnectionFailed,
    // NoAnswer, LoginRefused.
    void open();
    void close() { client_.close(); }
    bool isOpen() const { return client_.isOpen(); }

    // Sends a request made by daq::client::requests and gives its parsed answer. `what` names
    // the request in error messages.
    daq::client::Answer request(std::string_view json, std::string_view what);
    // Sends any text as one request and gives the answer's text exactly as it came.
    std::string requestText(std::string_view text);

    const GlobalOptions& options() const { return options_; }

  private:
    [[noreturn]] void fail(daq::client::ClientErrorKind kind, const std::string& detail,
                           std::string_view what) const;

    const GlobalOptions& options_;
    std::optional<Credentials> credentials_;
    daq::client::DaqClient client_;
};

}  // namespace daqclient
