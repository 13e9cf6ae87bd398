// Turns SIGINT and SIGTERM into a quit of the Qt event loop (self-pipe read by the GUI thread).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <memory>

namespace host {

class SignalWatcher : public QObject {
    Q_OBJECT

  public:
    // Installs the handlers; one watcher per process.
    explicit SignalWatcher(QObject* parent = nullptr);
    ~SignalWatcher() override;

    // The signal that asked the host to stop, 0 while none has.
    int Received() const { return received_; }

  signals:
    void StopRequested(int signal);

  private:
    static void OnSignal(int signal);
    void OnReadable();

    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace host
