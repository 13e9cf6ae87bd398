// What the server runtime shows in its window and asks of it. The server window implements it;
// everything here is called on the window thread, except startTimer (see WindowSink).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "server/core/WindowSink.h"

namespace daq {

class ServerRuntimeView : public WindowSink {
  public:
    // The address choice (cbxIP): its entries and the one selected.
    virtual void showAddresses(const std::vector<std::string>& addresses, std::size_t selected) = 0;
    // Whether the operator may pick another address (cbxIP).
    virtual void enableAddressChoice(bool enabled) = 0;
    // Whether the operator may switch Active (cbxActive).
    virtual void enableActiveSwitch(bool enabled) = 0;
    // The host's enable flag: the address, Active and configuration controls follow it.
    virtual void enableControls(bool enabled) = 0;
    // The Active switch shows this state (cbxActive checked).
    virtual void showActive(bool active) = 0;
    // The status line shows the DAQ run running or stopped (lbStatus).
    virtual void showRunState(bool running) = 0;
    // The "Login Users" list is emptied: the listener stops.
    virtual void clearUserRows() = 0;
    // Lets the window's events run for about `ms` while open_Server waits for the listener.
    // False when the window, and with it the runtime, went away meanwhile.
    virtual bool waitForEvents(int ms) = 0;

  protected:
    ~ServerRuntimeView() = default;
};

}  // namespace daq
