#include "plugin/TPinzKV.h"

#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QString>

#include "kelvane/Text.h"
#include "plugin/ClsInterface.h"
#include "plugin/IconResource.h"
#include "plugin/LibraryApplication.h"
#include "plugin/TfrmInfo.h"
#include "server/window/AlignClient.h"
#include "server/window/TfrmDAQTray.h"

namespace daq {

namespace {

constexpr const char16_t* kName = u"DAQServer";
constexpr const char16_t* kPinName = u"TCP Server";
constexpr const char16_t* kVersion = u"1.0.0.1";
constexpr const char16_t* kDescription = u"TCP Server Plugin Library";
constexpr const char16_t* kTypeText = u"TCP Server Plugin Library";
constexpr const char16_t* kDate = u"2010.08.29";
constexpr int32_t kPinKindField = 3;
constexpr int32_t kField1 = 1;
constexpr int32_t kMaxChild = 1;

template <std::size_t N>
QString fieldQString(const char16_t (&field)[N]) {
    const std::u16string_view text = kelvane::FieldText(field);
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

void centreOnScreen(QWidget& form) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = form.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        form.move(frame.topLeft());
    }
}

}  // namespace

TPinzKV::TPinzKV(kelvane::TApplication* application, kelvane::TPinzBase* parent, bool noForm,
                 void*) {
    FParent = parent;
    FSavedApplication = libraryApplication();
    setLibraryApplication(application);
    FPinKind = kPinKindField;
    FField1 = kField1;
    FConnected = 0;
    FIcon = nullptr;
    FInfoForm = nullptr;
    FPinInfo.PinType = kelvane::kDaqServerPinType;
    kelvane::StoreText(FPinInfo.Name, kPinName);
    kelvane::StoreText(FPinInfo.Version, kVersion);
    kelvane::StoreText(FPinInfo.Description, kDescription);
    kelvane::StoreText(FPinInfo.TypeText, kTypeText);
    kelvane::StoreText(FPinInfo.Date, kDate);
    if (!noForm) {
        InitInformForm(nullptr);
    }
}

TPinzKV::~TPinzKV() {
    delete infoForm();
    FInfoForm = nullptr;
    setLibraryApplication(FSavedApplication);
    delete FIcon;
    FIcon = nullptr;
}

TfrmInfo* TPinzKV::infoForm() const {
    return static_cast<TfrmInfo*>(FInfoForm);
}

ClsInterface* TPinzKV::commandObject() const {
    return FInfoForm == nullptr ? nullptr : &infoForm()->commandObject();
}

ServerRuntime* TPinzKV::serverRuntime() const {
    ClsInterface* command = commandObject();
    return command == nullptr ? nullptr : &command->serverWindow().runtime();
}

const char16_t* TPinzKV::GetName() {
    return kName;
}

QImage* TPinzKV::GetIcon() {
    if (FIcon == nullptr) {
        FIcon = new QImage(loadPluginIcon());
    }
    return FIcon;
}

void TPinzKV::SetDynamicID(int32_t id) {
    FDynamicID = id;
}

void TPinzKV::SetParent(kelvane::TPinzBase* parent) {
    FParent = parent;
}

void TPinzKV::InitInformForm(QWidget* parent) {
    if (FInfoForm == nullptr) {
        auto* form = new TfrmInfo();
        FInfoForm = form;
        // A host control that embeds the form may delete it with itself.
        QObject::connect(form, &QObject::destroyed, [this] { FInfoForm = nullptr; });
        form->setInfoText(0, fieldQString(FPinInfo.TypeText));
        form->setInfoText(1, fieldQString(FPinInfo.TypeText));
        form->setInfoText(2, fieldQString(FPinInfo.Date));
        form->setInfoText(3, fieldQString(FPinInfo.Version));
        form->setInfoText(4, fieldQString(FPinInfo.Description));
        FInterfaceTag = form->commandObject().interfaceTag();
        form->commandObject().setOwner(this);
    }
    TfrmInfo& form = *infoForm();
    window::alignClient(form, parent);
    if (parent != nullptr) {
        FEmbedControl = parent;
    } else {
        form.setWindowFlags(Qt::Dialog);
        centreOnScreen(form);
    }
}

void TPinzKV::ShowInformForm(bool show) {
    TfrmInfo* form = infoForm();
    if (form == nullptr) {
        return;
    }
    if (!show) {
        form->hide();
    } else if (form->parentWidget() != nullptr) {
        form->show();
    } else {
        form->setSizeGripEnabled(true);
        form->exec();
    }
}

void TPinzKV::SetPropChangeResult(kelvane::TPropChangeEvent handler) {
    if (ClsInterface* command = commandObject()) {
        command->setPropChangeResult(handler);
    }
}

void TPinzKV::SetActive(kelvane::TActivateEvent handler) {
    if (ClsInterface* command = commandObject()) {
        command->setActive(handler);
    }
}

void TPinzKV::SetAddChildPinz(kelvane::TPinzBase* child) {
    FChildren.Add(child);
}

bool TPinzKV::SetDelChildPinz(kelvane::TPinzBase* child) {
    if (child == nullptr) {
        return false;
    }
    const int32_t pinType = child->GetPinInfo()->PinType;
    for (int32_t i = 0; i < FChildren.Count(); ++i) {
        kelvane::TPinzBase* known = FChildren[i];
        if (known != nullptr && known->GetPinInfo()->PinType == pinType) {
            return FChildren.Delete(i);
        }
    }
    return false;
}

void TPinzKV::SetCopyPinz(kelvane::TPinzBase*) {}

void TPinzKV::ReadConfig(kelvane::IXMLNode* node, kelvane::TPinReadType) {
    if (ServerRuntime* runtime = serverRuntime()) {
        runtime->ReadConfig(node);
    }
}

void TPinzKV::WriteConfig(kelvane::IXMLNode* node) {
    if (ServerRuntime* runtime = serverRuntime()) {
        runtime->WriteConfig(node);
    }
}

void TPinzKV::LocalLanguage(kelvane::IXMLNode*) {}

kelvane::TPropChangeResult TPinzKV::PropertyChange(kelvane::TPropValue* prop, int32_t index,
                                                   kelvane::TPropChangeType type, void* data) {
    ClsInterface* command = commandObject();
    if (command == nullptr) {
        return kelvane::pcrNone;
    }
    const kelvane::TPropChangeResult result = command->propertyChange(prop, index, type, data);
    if (result != kelvane::pcrShowInform) {
        return result;
    }
    InitInformForm(nullptr);
    ShowInformForm(true);
    return kelvane::pcrNone;
}

bool TPinzKV::CheckSupportPinz(kelvane::TPinzBase* parent, kelvane::TTreeNodeType) {
    FParent = parent;
    return true;
}

int32_t TPinzKV::GetMaxChild(kelvane::TPinzBase*) {
    return kMaxChild;
}

int32_t TPinzKV::Connect(void*) {
    if (ServerRuntime* runtime = serverRuntime()) {
        runtime->Connect();
    }
    FConnected = 1;
    return FConnected;
}

void TPinzKV::Disconnect() {
    if (ClsInterface* command = commandObject()) {
        command->serverWindow().runtime().Disconnect();
        command->clearReadEvents();
    }
    FConnected = 0;
}

void TPinzKV::SendParam(const kelvane::_TPinzSendParam* param) {
    if (ClsInterface* command = commandObject()) {
        command->sendParam(param);
    }
}

void TPinzKV::ReadParam(kelvane::TPinzReadParam*) {}

int32_t TPinzKV::SendData(const void*, int32_t) {
    return 0;
}

int32_t TPinzKV::ReadData(void*, int32_t) {
    return 0;
}

void TPinzKV::SetAddReadEvent(kelvane::TPinzBase*, kelvane::TReadEvent handler) {
    if (ClsInterface* command = commandObject()) {
        command->addReadEvent(handler);
    }
}

void TPinzKV::SetDelReadEvent(kelvane::TPinzBase*, kelvane::TReadEvent handler) {
    if (ClsInterface* command = commandObject()) {
        command->deleteReadEvent(handler);
    }
}

bool TPinzKV::DAQRun(kelvane::TDaqRunType) {
    if (ServerRuntime* runtime = serverRuntime()) {
        runtime->SetDAQRun(true);
    }
    return true;
}

void TPinzKV::DAQStop(kelvane::TDaqRunType) {
    if (ServerRuntime* runtime = serverRuntime()) {
        runtime->SetDAQRun(false);
    }
}

}  // namespace daq
