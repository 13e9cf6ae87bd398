#include "host/session/HostSession.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>
#include <cstdio>
#include <stdexcept>

#include "host/core/Utf16.h"
#include "host/readmap/MapAccess.h"

namespace host {

namespace {

uint64_t handle(const void* pointer) {
    return reinterpret_cast<uint64_t>(pointer);
}

// Deletes the widgets a plug-in left in a host widget, before its code is unloaded.
void deleteChildWidgets(QWidget* parent) {
    if (parent == nullptr) {
        return;
    }
    for (QWidget* child : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        delete child;
    }
}

}  // namespace

HostSession::HostSession(kelvane::THostApplication& application, ProjectFile project,
                         LanguageTexts language, const std::filesystem::path& pluginPath)
    : application_(application),
      project_(std::move(project)),
      language_(std::move(language)),
      plant_(std::make_unique<Plant>(project_.model())),
      login_(project_.model().users),
      simulator_(*plant_),
      library_(std::make_unique<PluginLibrary>(pluginPath)),
      loginEvent_(login_.callback()),
      activeChangeEvent_(kelvane::TActivateEvent::bind<&HostSession::onActiveChange>(this)) {
    setOpenFailure(project_.model().map.openFails);
}

HostSession::~HostSession() {
    stop();
}

kelvane::TPinzCommand HostSession::send(int32_t code, uint64_t value, void* data,
                                        const char16_t* text) {
    kelvane::TPinzCommand command{};
    command.Code = code;
    command.Value = value;
    command.Text = text;
    command.Data = data;
    kelvane::_TPinzSendParam param{};
    param.Kind = kelvane::kPinzCommandKind;
    param.Command = &command;
    instance_->SendParam(&param);
    return command;
}

void HostSession::listenAt(std::optional<std::string> address, std::optional<uint16_t> port) {
    listenAddress_ = std::move(address);
    listenPort_ = port;
}

std::optional<ListenerState> HostSession::listener() {
    if (instance_ == nullptr) {
        return std::nullopt;
    }
    // A plug-in that does not know the command leaves Data null.
    const kelvane::TPinzCommand answer = send(kelvane::cmdListenerState, 0, nullptr);
    if (answer.Data == nullptr) {
        return std::nullopt;
    }
    return ListenerState{answer.Result == 1, *static_cast<const std::string*>(answer.Data)};
}

void HostSession::onActiveChange(void*) {
    ++activeChanges_;
    std::fprintf(stderr, "kelvane-host: the server's active switch changed\n");
}

void HostSession::start(QWidget* serverParent, QWidget* infoParent) {
    if (instance_ != nullptr || !library_) {
        return;
    }
    instance_ = library_->create()(&application_, nullptr, 0, false, nullptr);
    if (instance_ == nullptr) {
        throw std::runtime_error("the plug-in created no instance");
    }
    try {
        if (serverParent == nullptr) {
            hiddenParent_ = std::make_unique<QWidget>();
            serverParent = hiddenParent_.get();
        }
        serverParent_ = serverParent;
        infoParent_ = infoParent;
        send(kelvane::cmdEnableFlag, handle(&enableFlag_), nullptr);
        send(kelvane::cmdHostObjects,
             handle(static_cast<kelvane::IHostTree*>(&plant_->io().tree())), plant_->hostSystem());
        send(kelvane::cmdProject, 0, plant_->projectRecord());
        send(kelvane::cmdLanguage, 0, language_.root());
        send(kelvane::cmdLoginCallback, 0, &loginEvent_);
        send(kelvane::cmdActiveChange, handle(&activeChangeEvent_), nullptr);
        send(kelvane::cmdEmbedWindow, handle(serverParent), nullptr);
        if (listenAddress_) {
            send(kelvane::cmdListenAddress, 0, nullptr, toUtf16(*listenAddress_).c_str());
        }
        if (listenPort_) {
            send(kelvane::cmdListenPort, *listenPort_, nullptr);
        }
        if (infoParent != nullptr) {
            instance_->InitInformForm(infoParent);
        }
        instance_->ReadConfig(projectNodes_.wrap(project_.pluginSettings()),
                              kelvane::TPinReadType{});
        instance_->Connect(nullptr);
        simulator_.start();
        instance_->DAQRun(kelvane::TDaqRunType{});
    } catch (...) {
        simulator_.stop();
        unload();
        throw;
    }
}

void HostSession::stop(const std::optional<std::filesystem::path>& saveTo) {
    if (instance_ == nullptr) {
        return;
    }
    instance_->DAQStop(kelvane::TDaqRunType{});
    instance_->Disconnect();
    simulator_.stop();
    if (saveTo) {
        // The plug-in writes its whole settings afresh.
        pugi::xml_node settings = project_.pluginSettings();
        while (settings.first_child()) {
            settings.remove_child(settings.first_child());
        }
        instance_->WriteConfig(projectNodes_.wrap(settings));
    }
    unload();
    if (saveTo) {
        project_.save(*saveTo);
    }
}

void HostSession::unload() {
    if (instance_ != nullptr) {
        library_->destroy()(instance_);
        instance_ = nullptr;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    deleteChildWidgets(serverParent_);
    deleteChildWidgets(infoParent_);
    hiddenParent_.reset();
    serverParent_ = nullptr;
    infoParent_ = nullptr;
    library_.reset();
}

}  // namespace host
