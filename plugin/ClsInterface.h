// The plug-in's command object: it keeps the host's callbacks, the read events and the
// language texts, handles the host's command channel, and owns the server window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "kelvane/Closure.h"
#include "kelvane/PinRecords.h"
#include "kelvane/Pinz.h"
#include "kelvane/PropRecords.h"
#include "kelvane/TTList.h"
#include "kelvane/XMLNode.h"
#include "server/runtime/TextTable.h"

namespace daq {

namespace window {
class TfrmDAQTray;
}  // namespace window

class ClsInterface {
  public:
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
    // The server window, created with this object and destroyed with it.
    window::TfrmDAQTray& serverWindow() { return *frmDAQTray; }

  private:
    void command(kelvane::TPinzCommand& command);
    void setHostObjects(const kelvane::TPinzCommand& command);
    void listenerCommand(kelvane::TPinzCommand& command);
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
    // Last member: destroyed first, as it keeps a pointer to the text table.
    std::unique_ptr<window::TfrmDAQTray> frmDAQTray;
};

}  // namespace daq
