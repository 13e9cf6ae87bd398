// What the core asks of the server window: starting one of its timers. The timers run on the
// window thread and drain the core's queues (ServerCore::take...).
#pragma once

namespace daq {

enum class WindowTimer {
    UserUpdate,  // logins waiting: ServerCore::takeLogins
    LogoutUser,  // rows to remove: ServerCore::takeLogouts
    EventMsg,    // events waiting: ServerCore::takeEvents
    PopupMsg,    // popups waiting: ServerCore::takePopups
};

// Implemented by the server window. startTimer is called on IO threads (never with a lock of
// the core held) and must only post the start to the window thread, never wait for it.
class WindowSink {
  public:
    virtual void startTimer(WindowTimer timer) = 0;

  protected:
    ~WindowSink() = default;
};

}  // namespace daq
