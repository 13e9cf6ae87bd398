// The host's application object as plug-ins see it.
#pragma once

#include <exception>
#include <string>

#include "kelvane/Closure.h"

namespace kelvane {

class TApplication {
  public:
    // Called for an exception that escaped an event handler of the GUI thread.
    using ExceptionEvent = TClosure<void(void* sender, const std::exception& error)>;

    // Directory of the host's executable, where plug-ins keep their own settings files.
    virtual std::string ExeDir() const = 0;
    virtual ExceptionEvent OnException() const = 0;
    virtual void SetOnException(ExceptionEvent handler) = 0;

  protected:
    ~TApplication() = default;
};

}  // namespace kelvane
