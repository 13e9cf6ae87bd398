// One run of the host with a plug-in: loads the library, hands the host's objects over, runs the
// DAQ with the simulator writing values, and takes everything down again in order.
//
// Usable in-process (tests): create a THostApplication first, then
//   HostSession session(app, ProjectFile::load(path), LanguageTexts::load("en", dir), pluginPath);
//   session.start();   ... the plug-in listens (port from config.ini in app.ExeDir()) ...
//   session.stop();
// All calls on the GUI thread.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "host/core/LanguageTexts.h"
#include "host/core/Login.h"
#include "host/core/Plant.h"
#include "host/core/ProjectFile.h"
#include "host/core/Simulator.h"
#include "host/core/XmlNode.h"
#include "host/session/PluginLibrary.h"
#include "kelvane/HostApplication.h"
#include "kelvane/Pinz.h"

class QWidget;

namespace host {

// The plug-in's listener as it reports it.
struct ListenerState {
    bool listening = false;
    // Listening: "<address>:<port>", the port it bound. Otherwise why it does not listen.
    std::string text;
};

class HostSession {
  public:
    // Loads the plug-in library and builds the host's records; nothing of the plug-in runs yet.
    // FileError when the library cannot be loaded or lacks an entry point.
    HostSession(kelvane::THostApplication& application, ProjectFile project, LanguageTexts language,
                const std::filesystem::path& pluginPath);
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;
    // Stops first when still running.
    ~HostSession();

    // Where the plug-in's listener is to listen, over its config.ini; sent by start().
    void listenAt(std::optional<std::string> address, std::optional<uint16_t> port);
    // Creates the plug-in instance and drives it: commands 66, 0, 83, 15, 111, 57, 49, the
    // listen address and port when given, ReadConfig, Connect, DAQRun; the simulator runs from
    // just before the DAQ run. serverParent receives the server window (null: a hidden widget of
    // the session); infoParent, when given, receives the information form. On failure
    // everything started is taken down again before the exception leaves.
    void start(QWidget* serverParent = nullptr, QWidget* infoParent = nullptr);
    // DAQStop, Disconnect, the simulator stopped, WriteConfig into the project's plug-in
    // settings (only with saveTo), DeletePinzInstance, library unloaded; then the project file
    // is written to saveTo. Does nothing when not running.
    void stop(const std::optional<std::filesystem::path>& saveTo = std::nullopt);

    bool running() const { return instance_ != nullptr; }
    // Asks the running plug-in; nothing when it reports no listener (a plug-in without one).
    std::optional<ListenerState> listener();
    Plant& plant() { return *plant_; }
    ProjectFile& project() { return project_; }
    LoginService& login() { return login_; }
    Simulator& simulator() { return simulator_; }
    kelvane::TPinzBase* instance() { return instance_; }
    // How often the plug-in reported a change of its active switch (command 57's callback).
    int activeChanges() const { return activeChanges_; }

  private:
    // The command after the plug-in has handled it.
    kelvane::TPinzCommand send(int32_t code, uint64_t value, void* data,
                               const char16_t* text = u"");
    void onActiveChange(void* sender);
    // Deletes the instance, removes what it left in the host's widgets, unloads the library.
    void unload();

    kelvane::THostApplication& application_;
    ProjectFile project_;
    LanguageTexts language_;
    std::unique_ptr<Plant> plant_;
    LoginService login_;
    Simulator simulator_;
    XmlNodes projectNodes_;
    std::unique_ptr<PluginLibrary> library_;
    std::unique_ptr<QWidget> hiddenParent_;
    QWidget* serverParent_ = nullptr;
    QWidget* infoParent_ = nullptr;
    kelvane::TPinzBase* instance_ = nullptr;

    int32_t enableFlag_ = 1;
    kelvane::TLoginEvent loginEvent_;
    kelvane::TActivateEvent activeChangeEvent_;
    int activeChanges_ = 0;
    std::optional<std::string> listenAddress_;
    std::optional<uint16_t> listenPort_;
};

}  // namespace host
