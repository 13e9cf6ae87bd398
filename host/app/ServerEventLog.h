// Writes each event the plug-in's server window lists (logins, logouts and refused logins, each
// with the client's address) to standard error, one line each: the journal of a host run as a
// service. Passwords never reach the event list.
#pragma once

#include <QMetaObject>

namespace host {

class ServerEventLog {
  public:
    ServerEventLog() = default;
    ~ServerEventLog();
    ServerEventLog(const ServerEventLog&) = delete;
    ServerEventLog& operator=(const ServerEventLog&) = delete;

    // Follows the event list of the server window ("vstEvents") once the plug-in has made it;
    // false when there is none.
    bool attach();

  private:
    QMetaObject::Connection connection_;
};

}  // namespace host
