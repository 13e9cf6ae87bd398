// The plug-in interface: the class every plug-in (this server and the host's unit plug-ins)
// implements. Its data layout and the order of its virtual operations are shared with the
// host, which reaches plug-ins only through the virtual table and the fields below.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kelvane/Application.h"
#include "kelvane/Closure.h"
#include "kelvane/PinRecords.h"
#include "kelvane/PropRecords.h"
#include "kelvane/TTList.h"
#include "kelvane/XMLNode.h"

class QImage;
class QWidget;

namespace kelvane {

class TPinzBase;

using TPropChangeEvent =
    TClosure<TPropChangeResult(TPropValue* prop, int32_t index, TPropChangeType type, void* data)>;
using TActivateEvent = TClosure<void(void* sender)>;
using TReadEvent = TClosure<void(void* sender, int32_t a, int32_t b, const void* data)>;
// The host's login callback (installed with command 111): receives the login command the way
// SendParam receives a command, and answers through the command's Data.
using TLoginEvent = TClosure<void(const _TPinzSendParam* param)>;

#pragma pack(push, 4)

class TPinzBase {
  public:
    TPinzBase() = default;
    TPinzBase(const TPinzBase&) = default;
    TPinzBase& operator=(const TPinzBase&) = default;

    // Slots 0..26 in this order; the destructor takes slots 27 (complete) and 28 (deleting).
    virtual const char16_t* GetName() = 0;
    virtual QImage* GetIcon() = 0;
    virtual void SetDynamicID(int32_t id) = 0;
    virtual void SetParent(TPinzBase* parent) = 0;
    virtual void InitInformForm(QWidget* parent) = 0;
    virtual void ShowInformForm(bool show) = 0;
    virtual void SetPropChangeResult(TPropChangeEvent handler) = 0;
    virtual void SetActive(TActivateEvent handler) = 0;
    virtual void SetAddChildPinz(TPinzBase* child) = 0;
    virtual bool SetDelChildPinz(TPinzBase* child) = 0;
    virtual void SetCopyPinz(TPinzBase* source) = 0;
    virtual void ReadConfig(IXMLNode* node, TPinReadType type) = 0;
    virtual void WriteConfig(IXMLNode* node) = 0;
    virtual void LocalLanguage(IXMLNode* node) = 0;
    virtual TPropChangeResult PropertyChange(TPropValue* prop, int32_t index, TPropChangeType type,
                                             void* data) = 0;
    virtual bool CheckSupportPinz(TPinzBase* parent, TTreeNodeType type) = 0;
    virtual int32_t GetMaxChild(TPinzBase* parent) = 0;
    virtual int32_t Connect(void* argument) = 0;
    virtual void Disconnect() = 0;
    virtual void SendParam(const _TPinzSendParam* param) = 0;
    virtual void ReadParam(TPinzReadParam* param) = 0;
    virtual int32_t SendData(const void* data, int32_t size) = 0;
    virtual int32_t ReadData(void* data, int32_t size) = 0;
    virtual void SetAddReadEvent(TPinzBase* sender, TReadEvent handler) = 0;
    virtual void SetDelReadEvent(TPinzBase* sender, TReadEvent handler) = 0;
    virtual bool DAQRun(TDaqRunType type) = 0;
    virtual void DAQStop(TDaqRunType type) = 0;
    virtual ~TPinzBase() = default;

    TPinInfo* GetPinInfo() { return &FPinInfo; }
    void SetLock() {}
    void SetUnLock() {}

    int32_t PinKind() const { return FPinKind; }
    // A unit's parameters: the field after the child list (null in plug-ins without any).
    TTList<TPropValue*>* Properties() const { return FProperties; }

  protected:
    TPinInfo FPinInfo{};
    QWidget* FEmbedControl = nullptr;
    void* FInfoForm = nullptr;
    TApplication* FSavedApplication = nullptr;
    int32_t FDynamicID = 0;
    int32_t FReserved0 = 0;
    int32_t FPinKind = 0;
    int32_t FReserved1 = 0;
    int32_t FConnected = 0;
    TPinzBase* FParent = nullptr;
    TTList<TPinzBase*> FChildren;
    union {
        void* FInterfaceTag;
        TTList<TPropValue*>* FProperties = nullptr;
    };
    QImage* FIcon = nullptr;
    int32_t FField1 = 0;

    friend struct TPinzLayout;
};

#pragma pack(pop)

// Offsets the host relies on (checked here so that a change of the class shows at once).
struct TPinzLayout {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
    static constexpr bool kChecked =
        offsetof(TPinzBase, FPinInfo) == 8 && offsetof(TPinzBase, FEmbedControl) == 1428 &&
        offsetof(TPinzBase, FInfoForm) == 1436 && offsetof(TPinzBase, FSavedApplication) == 1444 &&
        offsetof(TPinzBase, FDynamicID) == 1452 && offsetof(TPinzBase, FPinKind) == 1460 &&
        offsetof(TPinzBase, FConnected) == 1468 && offsetof(TPinzBase, FParent) == 1472 &&
        offsetof(TPinzBase, FChildren) == 1480 && offsetof(TPinzBase, FProperties) == 1496 &&
        offsetof(TPinzBase, FIcon) == 1504 && offsetof(TPinzBase, FField1) == 1512 &&
        sizeof(TPinzBase) == 1516;
#pragma GCC diagnostic pop
};
static_assert(TPinzLayout::kChecked, "plug-in object layout changed");

// Entry points every plug-in library exports with C linkage.
using CreatePinzInstanceFn = TPinzBase* (*)(TApplication* application, TPinzBase* parent,
                                            int32_t nodeType, bool noForm, void* user);
using DeletePinzInstanceFn = void (*)(TPinzBase* instance);
inline constexpr const char* kCreatePinzInstance = "CreatePinzInstance";
inline constexpr const char* kDeletePinzInstance = "DeletePinzInstance";

}  // namespace kelvane
