// The plug-in's command object: it keeps the host's callbacks, the read events and the
// language texts, handles the host's command channel, and owns the server window.
#pragma once

#include <cstdint>
#include <string>

#include "kelvane/Closure.h"
#include "kelvane/PinRecords.h"
#include "kelvane/Pinz.h"
#include "kelvane/PropRecords.h"
#include "kelvane/TTList.h"
#include "kelvane/XMLNode.h"
#include "server/TextTable.h"

namespace daq {

class TfrmDAQTray;

class ClsInterface {
  public:
    // Commands of the host's command channel.
    enum Command : int32_t {
        cmdHostObjects = 0,
        cmdClearResult = 2,
        cmdKeepValue = 4,
        cmdLanguage = 15,
        cmdLanguageAlt = 16,
        cmdClearData = 20,
        cmdRunModeAddress = 22,
        cmdEmbedWindow = 49,
        cmdActiveChange = 57,
        cmdEnableFlag = 66,
        cmdProject = 83,
        cmdTextEntry42 = 96,
        cmdTextEntry43 = 97,
        cmdLoginCallback = 111,
        // The stand-in host's: the listener's address (Text) and port (Value) over
        // "config.ini", before the DAQ run; and the listener's state (Result 1 when it listens,
        // 0 when not; Data the address of a UTF-8 text: where it listens, or why not).
        cmdListenAddress = 200,
        cmdListenPort = 201,
        cmdListenerState = 202,
    };

    // Creates the server window (frmDAQTray).
    ClsInterface();
    // Empties the lists and destroys the server window.
    virtual ~ClsInterface();
    ClsInterface(const ClsInterface&) = delete;
    ClsInterface& operator=(const ClsInterface&) = delete;

    void* interfaceTag() const { return interfaceTag_; }
    void setOwner(kelvane::TPinzBase* owner) { owner_ = owner; }
    kelvane::TPinzBase* owner() const { return owner_; }

    void setPropChangeResult(kelvane::TPropChangeEvent handler) { propChange_ = handler; }
    void setActive(kelvane::TActivateEvent handler) { activate_ = handler; }
    // Handles no property.
    kelvane::TPropChangeResult propertyChange(kelvane::TPropValue* prop, int32_t index,
                                              kelvane::TPropChangeType type, void* data);

    // Appended unless the same code and data pointers are there already.
    void addReadEvent(kelvane::TReadEvent handler);
    // Removes the first entry with the same code and data pointers.
    void deleteReadEvent(kelvane::TReadEvent handler);
    void clearReadEvents() { readEvents_.Clear(); }
    const kelvane::TTList<kelvane::TReadEvent>& readEvents() const { return readEvents_; }

    // The host's command channel; kinds other than the command kind are ignored.
    void sendParam(const kelvane::_TPinzSendParam* param);

    const TextTable& textTable() const { return textTable_; }
    uint64_t commandValue() const { return commandValue_; }
    const int32_t* enableFlag() const { return enableFlag_; }

  private:
    void command(kelvane::TPinzCommand& command);
    void changeLanguage(kelvane::IXMLNode* root);

    void* interfaceTag_ = nullptr;
    kelvane::TPropChangeEvent propChange_{};
    kelvane::TPinzBase* owner_ = nullptr;
    kelvane::TActivateEvent activate_{};
    kelvane::TTList<kelvane::TReadEvent> readEvents_;
    uint64_t commandValue_ = 0;
    TextTable textTable_;
    kelvane::IXMLNode* languageRoot_ = nullptr;
    const int32_t* enableFlag_ = nullptr;
    // The last answer of cmdListenerState, which the host reads after the call.
    std::string listenerText_;
};

}  // namespace daq
