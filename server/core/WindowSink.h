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

// Implemented by the server window. startTimer is called on IO threads (possibly while the
// core's request lock is held, never with its window-queue lock) and must only post the start
// to the window thread, never wait for it.
class WindowSink {
  public:
    virtual void startTimer(WindowTimer timer) = 0;

  protected:
    ~WindowSink() = default;
};

}  // namespace daq
