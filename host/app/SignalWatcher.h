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
    int received() const { return received_; }

  signals:
    void stopRequested(int signal);

  private:
    static void onSignal(int signal);
    void onReadable();

    std::unique_ptr<QSocketNotifier> notifier_;
    int received_ = 0;
};

}  // namespace host
