// The host's application object: a QApplication whose event delivery catches exceptions
// and hands them to the installed handler instead of ending the process.
#pragma once

#include <QApplication>
#include <string>
#include <utility>

#include "kelvane/Application.h"

namespace kelvane {

class THostApplication : public QApplication, public TApplication {
  public:
    THostApplication(int& argc, char** argv, std::string exeDir)
        : QApplication(argc, argv), exeDir_(std::move(exeDir)) {}

    std::string ExeDir() const override { return exeDir_; }
    ExceptionEvent OnException() const override { return onException_; }
    void SetOnException(ExceptionEvent handler) override { onException_ = handler; }

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            if (onException_) {
                onException_(receiver, error);
            }
        } catch (...) {
            // Not an exception the handler can describe; dropped like an unhandled one.
        }
        return false;
    }

  private:
    std::string exeDir_;
    ExceptionEvent onException_{};
};

}  // namespace kelvane
