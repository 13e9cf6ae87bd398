// The plug-in object as the host drives it: construction and destruction, the slots that keep
// or forward host objects, the command channel, the settings in the project file, the icon and
// the information form.
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "host/core/HostTree.h"
#include "host/units/UnitPinz.h"
#include "kelvane/IORecords.h"
#include "kelvane/PinRecords.h"
#include "kelvane/SystemRecords.h"
#include "kelvane/Text.h"
#include "plugin/ClsInterface.h"
#include "plugin/LibraryApplication.h"
#include "plugin/TPinzKV.h"
#include "plugin/TfrmInfo.h"
#include "server/window/TfrmDAQTray.h"
#include "tests/window/PluginTestSupport.h"

using namespace daq;
using daq::window::TfrmDAQTray;

namespace {

struct Command {
    kelvane::TPinzCommand command{};
    kelvane::_TPinzSendParam param{};

    Command(int32_t code, uint64_t value = 0, void* data = nullptr) {
        command.Code = code;
        command.Value = value;
        command.Data = data;
        command.Result = -1;
        param.Kind = kelvane::kPinzCommandKind;
        param.Command = &command;
    }
};

uint64_t asValue(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

class PluginObject : public ::testing::Test {
  protected:
    void SetUp() override {
        removeConfig();
        pinz = std::make_unique<TPinzKV>(&HostApplicationEnvironment::application(), nullptr, false,
                                         nullptr);
    }
    void TearDown() override { pinz.reset(); }

    void send(Command& command) { pinz->SendParam(&command.param); }
    void enable(int32_t& flag) {
        Command command(kelvane::cmdEnableFlag, asValue(&flag));
        send(command);
    }
    TfrmDAQTray& window() { return pinz->commandObject()->serverWindow(); }
    template <typename T>
    T* widget(const char* name) {
        return window().findChild<T*>(QString::fromLatin1(name));
    }

    std::unique_ptr<TPinzKV> pinz;
};

}  // namespace

TEST(PluginLifecycle, AdoptsTheHostApplicationAndRestoresTheLibrarysOwn) {
    auto& application = HostApplicationEnvironment::application();
    ASSERT_EQ(libraryApplication(), nullptr);
    QPointer<TfrmDAQTray> window;
    {
        TPinzKV pinz(&application, nullptr, false, nullptr);
        EXPECT_EQ(libraryApplication(), &application);
        EXPECT_EQ(pinz.savedApplication(), nullptr);
        ASSERT_NE(pinz.commandObject(), nullptr);
        EXPECT_EQ(pinz.commandObject()->owner(), &pinz);
        window = &pinz.commandObject()->serverWindow();
        EXPECT_FALSE(window->isVisible());  // created hidden
    }
    EXPECT_TRUE(window.isNull());  // destroyed with the plug-in object
    EXPECT_EQ(libraryApplication(), nullptr);
}

TEST(PluginLifecycle, NoFormFlagDefersTheFormChainToInitInformForm) {
    TPinzKV pinz(&HostApplicationEnvironment::application(), nullptr, true, nullptr);
    EXPECT_EQ(pinz.infoForm(), nullptr);
    EXPECT_EQ(pinz.commandObject(), nullptr);  // and with it no server window
    // Operations that need the form do nothing meanwhile.
    EXPECT_TRUE(pinz.DAQRun({}));
    pinz.SetAddReadEvent(nullptr, {});
    EXPECT_EQ(pinz.Connect(nullptr), 1);

    QWidget host;
    host.resize(300, 200);
    host.show();
    pinz.InitInformForm(&host);
    ASSERT_NE(pinz.infoForm(), nullptr);
    ASSERT_NE(pinz.commandObject(), nullptr);
    EXPECT_EQ(pinz.infoForm()->parentWidget(), &host);
    EXPECT_EQ(pinz.infoForm()->geometry(), host.rect());
    host.resize(400, 250);
    EXPECT_EQ(pinz.infoForm()->geometry(), host.rect());

    // A second call only moves the same form; a null parent makes it a floating dialog.
    TfrmInfo* form = pinz.infoForm();
    pinz.InitInformForm(nullptr);
    EXPECT_EQ(pinz.infoForm(), form);
    EXPECT_EQ(form->parentWidget(), nullptr);
    EXPECT_TRUE(form->isWindow());
}

TEST(PluginLifecycle, InformationFormShowsThePluginTexts) {
    TPinzKV pinz(&HostApplicationEnvironment::application(), nullptr, false, nullptr);
    TfrmInfo* form = pinz.infoForm();
    ASSERT_NE(form, nullptr);
    EXPECT_EQ(form->infoText(0), "TCP Server Plugin Library");
    EXPECT_EQ(form->infoText(1), "TCP Server Plugin Library");
    EXPECT_EQ(form->infoText(2), "2010.08.29");
    EXPECT_EQ(form->infoText(3), "1.0.0.1");
    EXPECT_EQ(form->infoText(4), "TCP Server Plugin Library");
    for (int i = 0; i < TfrmInfo::kInfoEdits; ++i) {
        auto* edit = form->findChild<QLineEdit*>(QStringLiteral("edtInfo%1").arg(i));
        ASSERT_NE(edit, nullptr);
        EXPECT_TRUE(edit->isReadOnly());
    }
    EXPECT_EQ(form->bitmap().size(), QSize(32, 32));
}

TEST_F(PluginObject, PinInformationNameAndFixedAnswers) {
    const kelvane::TPinInfo& info = *pinz->GetPinInfo();
    EXPECT_EQ(info.PinType, 11);
    EXPECT_EQ(kelvane::FieldText(info.Name), u"TCP Server");
    EXPECT_EQ(kelvane::FieldText(info.Version), u"1.0.0.1");
    EXPECT_EQ(kelvane::FieldText(info.Date), u"2010.08.29");
    EXPECT_EQ(std::u16string_view(pinz->GetName()), u"DAQServer");
    EXPECT_EQ(pinz->GetMaxChild(nullptr), 1);
    EXPECT_EQ(pinz->SendData(nullptr, 0), 0);
    EXPECT_EQ(pinz->ReadData(nullptr, 0), 0);
    EXPECT_EQ(pinz->PropertyChange(nullptr, 0, kelvane::pcValueChanged, nullptr), kelvane::pcrNone);
    pinz->SetDynamicID(42);
    EXPECT_EQ(pinz->dynamicId(), 42);
    TPinzKV* self = pinz.get();
    EXPECT_TRUE(pinz->CheckSupportPinz(self, {}));
    EXPECT_EQ(pinz->parentPinz(), self);
}

TEST_F(PluginObject, IconIsReadOnceAndKept) {
    QImage* icon = pinz->GetIcon();
    ASSERT_NE(icon, nullptr);
    EXPECT_FALSE(icon->isNull());
    EXPECT_EQ(icon->size(), QSize(32, 32));
    EXPECT_EQ(icon->depth(), 32);
    EXPECT_EQ(pinz->GetIcon(), icon);
}

TEST_F(PluginObject, ReadEventsAreKeptOncePerCodeAndDataPointer) {
    int a = 0;
    int b = 0;
    const kelvane::TReadEvent::Code code = [](void*, void*, int32_t, int32_t, const void*) {};
    const kelvane::TReadEvent first{code, &a};
    const kelvane::TReadEvent second{code, &b};
    const auto& events = pinz->commandObject()->readEvents();

    pinz->SetAddReadEvent(nullptr, first);
    pinz->SetAddReadEvent(nullptr, first);
    EXPECT_EQ(events.Count(), 1);
    pinz->SetAddReadEvent(nullptr, second);
    EXPECT_EQ(events.Count(), 2);

    pinz->SetDelReadEvent(nullptr, kelvane::TReadEvent{code, &pinz});  // not in the list
    EXPECT_EQ(events.Count(), 2);
    pinz->SetDelReadEvent(nullptr, first);
    ASSERT_EQ(events.Count(), 1);
    EXPECT_TRUE(events[0] == second);

    pinz->Disconnect();  // empties the list
    EXPECT_EQ(events.Count(), 0);
    EXPECT_EQ(pinz->connected(), 0);
}

TEST_F(PluginObject, ChildRemovalGoesByPinType) {
    host::UnitSpec spec;
    spec.pinKind = 11;
    int32_t connected = 1;
    host::UnitPinz firstServer(spec, connected);
    host::UnitPinz secondServer(spec, connected);
    spec.pinKind = 5;
    host::UnitPinz other(spec, connected);
    pinz->SetAddChildPinz(&firstServer);
    pinz->SetAddChildPinz(&other);
    pinz->SetAddChildPinz(&secondServer);

    // The first child of the same pin type goes, whichever object was passed.
    EXPECT_TRUE(pinz->SetDelChildPinz(&secondServer));
    ASSERT_EQ(pinz->children().Count(), 2);
    EXPECT_EQ(pinz->children()[0], &other);
    EXPECT_EQ(pinz->children()[1], &secondServer);

    spec.pinKind = 7;
    host::UnitPinz stranger(spec, connected);
    EXPECT_FALSE(pinz->SetDelChildPinz(&stranger));
    EXPECT_FALSE(pinz->SetDelChildPinz(nullptr));
    EXPECT_EQ(pinz->children().Count(), 2);
}

TEST_F(PluginObject, ReadConfigDerivesRunModeAndActive) {
    int32_t flag = 1;
    enable(flag);
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    struct Case {
        const char* element;
        int32_t runMode;
        bool active;
    };
    for (const Case& c : {Case{R"(<TCPServer RunMode="4"/>)", 0, true},
                          Case{R"(<TCPServer RunMode="3"/>)", 1, false},
                          Case{R"(<TCPServer RunMode="abc"/>)", 0, true},
                          Case{R"(<TCPServer RunMode="1"/>)", 1, false},
                          Case{R"(<TCPServer Active="1"/>)", 0, false}}) {
        HostXml xml(std::string("<plugin>") + c.element + "</plugin>");
        pinz->ReadConfig(xml.root(), {});
        EXPECT_EQ(window().runtime().runMode(), c.runMode) << c.element;
        EXPECT_EQ(window().runtime().active(), c.active) << c.element;
        EXPECT_EQ(cbxActive->isChecked(), c.active) << c.element;
    }
}

TEST_F(PluginObject, ReadConfigWithoutElementOrWhileDisabledChangesNothing) {
    int32_t flag = 1;
    enable(flag);
    HostXml running(R"(<plugin><TCPServer RunMode="0"/></plugin>)");
    pinz->ReadConfig(running.root(), {});
    ASSERT_EQ(window().runtime().runMode(), 0);
    ASSERT_TRUE(window().runtime().active());

    HostXml without("<plugin><Other RunMode=\"1\"/></plugin>");
    pinz->ReadConfig(without.root(), {});
    EXPECT_EQ(window().runtime().runMode(), 0);
    EXPECT_TRUE(window().runtime().active());

    flag = 0;
    HostXml disconnected(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
    pinz->ReadConfig(disconnected.root(), {});
    EXPECT_EQ(window().runtime().runMode(), 0);
    EXPECT_TRUE(window().runtime().active());
}

TEST_F(PluginObject, WriteConfigAppendsTheElement) {
    int32_t flag = 1;
    enable(flag);
    HostXml settings(R"(<plugin><TCPServer RunMode="3"/></plugin>)");
    pinz->ReadConfig(settings.root(), {});  // RunMode 1, Active false

    HostXml out("<plugin/>");
    pinz->WriteConfig(out.root());
    const pugi::xml_node written = out.element().child("TCPServer");
    ASSERT_TRUE(written);
    EXPECT_STREQ(written.attribute("RunMode").value(), "1");
    EXPECT_STREQ(written.attribute("Active").value(), "0");

    window().findChild<QCheckBox*>(QStringLiteral("cbxActive"))->setChecked(true);
    HostXml again("<plugin/>");
    pinz->WriteConfig(again.root());
    EXPECT_STREQ(again.element().child("TCPServer").attribute("Active").value(), "1");
}

TEST_F(PluginObject, RunModeAddressShowsLaterChanges) {
    Command runMode(kelvane::cmdRunModeAddress);
    send(runMode);
    ASSERT_NE(runMode.command.Data, nullptr);
    const auto* seen = static_cast<const int32_t*>(runMode.command.Data);

    int32_t flag = 1;
    enable(flag);
    HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
    pinz->ReadConfig(settings.root(), {});
    EXPECT_EQ(*seen, 1);
    EXPECT_EQ(pinz->Connect(nullptr), 1);
    EXPECT_EQ(pinz->connected(), 1);
    EXPECT_EQ(*seen, 2);
    pinz->Disconnect();
    EXPECT_EQ(*seen, 1);
    flag = 0;
    enable(flag);
    EXPECT_EQ(*seen, 4);
}

TEST_F(PluginObject, EnableFlagSwitchesTheControlsAndRunMode) {
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    auto* cbxIP = widget<QComboBox>("cbxIP");
    auto* btnConfig = widget<QPushButton>("btnConfig");
    int32_t flag = 0;
    enable(flag);
    EXPECT_EQ(window().runtime().runMode(), 4);
    EXPECT_FALSE(cbxActive->isEnabled());
    EXPECT_FALSE(cbxIP->isEnabled());
    EXPECT_FALSE(btnConfig->isEnabled());
    // Disabled: connect and disconnect are ignored.
    pinz->Connect(nullptr);
    EXPECT_EQ(window().runtime().runMode(), 4);

    flag = 1;
    enable(flag);
    EXPECT_EQ(window().runtime().runMode(), 0);
    EXPECT_TRUE(cbxActive->isEnabled());
    EXPECT_TRUE(cbxIP->isEnabled());
    EXPECT_TRUE(btnConfig->isEnabled());
    // Uncoupled: ignored as well.
    pinz->Connect(nullptr);
    EXPECT_EQ(window().runtime().runMode(), 0);

    Command none(kelvane::cmdEnableFlag, 0);
    send(none);
    EXPECT_EQ(window().runtime().runMode(), 4);
}

TEST_F(PluginObject, ConnectAndDisconnectMoveTheState) {
    int32_t flag = 1;
    enable(flag);
    HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
    pinz->ReadConfig(settings.root(), {});
    auto* cbxActive = widget<QCheckBox>("cbxActive");
    pinz->Connect(nullptr);
    EXPECT_EQ(window().runtime().runMode(), 2);
    EXPECT_TRUE(window().runtime().active());
    EXPECT_FALSE(cbxActive->isEnabled());
    pinz->Disconnect();
    EXPECT_EQ(window().runtime().runMode(), 1);
    EXPECT_TRUE(cbxActive->isEnabled());
}

TEST_F(PluginObject, ShortTextTableReadsMissingEntriesAsEmpty) {
    // Before any language change: the empty text.
    Command early(kelvane::cmdTextEntry42);
    send(early);
    ASSERT_NE(early.command.Data, nullptr);
    EXPECT_EQ(*static_cast<const std::string*>(early.command.Data), "");

    HostXml shortTable(languageXml(5));
    Command language(kelvane::cmdLanguage, 0, shortTable.root());
    send(language);
    EXPECT_EQ(pinz->commandObject()->textTable().count(), 5);
    for (int32_t code : {kelvane::cmdTextEntry42, kelvane::cmdTextEntry43}) {
        Command entry(code);
        send(entry);
        ASSERT_NE(entry.command.Data, nullptr);
        EXPECT_EQ(*static_cast<const std::string*>(entry.command.Data), "");
    }
    // The window is relabelled: supplied entries show, missing ones read as empty.
    EXPECT_EQ(widget<QLabel>("Label1")->text(), "text2");
    EXPECT_EQ(widget<QLabel>("lbTitle")->text(), "");

    HostXml fullTable(languageXml(44));
    Command full(kelvane::cmdLanguageAlt, 0, fullTable.root());
    send(full);
    Command entry43(kelvane::cmdTextEntry43);
    send(entry43);
    EXPECT_EQ(*static_cast<const std::string*>(entry43.command.Data), "text43");
    EXPECT_EQ(widget<QLabel>("lbTitle")->text(), "text42");
    EXPECT_EQ(widget<QPushButton>("btnConfig")->text(), "text1");
}

TEST_F(PluginObject, CommandChannelCodes) {
    Command result(kelvane::cmdClearResult);
    send(result);
    EXPECT_EQ(result.command.Result, 0);

    int marker = 0;
    Command clear(kelvane::cmdClearData, 0, &marker);
    send(clear);
    EXPECT_EQ(clear.command.Data, nullptr);

    Command keep(kelvane::cmdKeepValue, 0x1234);
    send(keep);
    EXPECT_EQ(pinz->commandObject()->commandValue(), 0x1234u);

    // Other kinds and unknown codes change nothing.
    Command other(kelvane::cmdClearResult);
    other.param.Kind = 53;
    send(other);
    EXPECT_EQ(other.command.Result, -1);
    Command unknown(77, 0, &marker);
    send(unknown);
    EXPECT_EQ(unknown.command.Data, &marker);
    EXPECT_EQ(unknown.command.Result, -1);
}

TEST_F(PluginObject, ActiveChangeCallbackAndEmbedding) {
    struct Seen {
        int calls = 0;
        void* sender = nullptr;
    } seen;
    const kelvane::TActivateEvent onActive{[](void* data, void* sender) {
                                               auto* s = static_cast<Seen*>(data);
                                               ++s->calls;
                                               s->sender = sender;
                                           },
                                           &seen};
    Command activeChange(kelvane::cmdActiveChange, asValue(&onActive));
    send(activeChange);
    widget<QCheckBox>("cbxActive")->setChecked(true);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.sender, &window());
    EXPECT_TRUE(window().runtime().active());

    QWidget host;
    host.resize(640, 480);
    host.show();
    Command embed(kelvane::cmdEmbedWindow, asValue(&host));
    send(embed);
    EXPECT_EQ(window().parentWidget(), &host);
    EXPECT_FALSE(window().isWindow());
    EXPECT_EQ(window().geometry(), host.rect());
    EXPECT_FALSE(window().isHidden());
    window().setParent(nullptr);  // the host's widget goes first here
}

TEST_F(PluginObject, HostObjectsReachTheWindowAndTheRun) {
    writeConfig("[config]\nDAQServer Addr=127.0.0.1\nDAQServer Port=" +
                std::to_string(freeLoopbackPort()) + "\n");
    pinz.reset();  // again, with these settings
    pinz = std::make_unique<TPinzKV>(&HostApplicationEnvironment::application(), nullptr, false,
                                     nullptr);
    kelvane::TIOList records[2]{};
    kelvane::TIONodeRecord nodes[2] = {{kelvane::nkTag, {}, &records[0]},
                                       {kelvane::nkTag, {}, &records[1]}};
    host::HostTree ioTree;
    ioTree.add(nullptr, &nodes[0], 0, "first");
    ioTree.add(nullptr, &nodes[1], 0, "second");
    host::HostTree systemTree;
    kelvane::TProjectRecord project{u"Plant", u"Maker", u"Worker", u"Description"};
    kelvane::THostSystem system{};
    system.Project = &project;
    system.SystemTree = &systemTree;

    TraceCapture traces;
    Command objects(kelvane::cmdHostObjects, asValue(static_cast<kelvane::IHostTree*>(&ioTree)),
                    &system);
    send(objects);
    char address[32];
    std::snprintf(address, sizeof address, "%" PRIxPTR,
                  reinterpret_cast<uintptr_t>(static_cast<kelvane::IHostTree*>(&systemTree)));
    const auto lines = matching(traces.collect(), "[TCP_SERVER] Set MySysytemVst Pointer : ");
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().substr(0, lines.front().find('|')),
              std::string("[TCP_SERVER] Set MySysytemVst Pointer : ") + address);

    int32_t flag = 1;
    enable(flag);
    HostXml settings(R"(<plugin><TCPServer RunMode="1"/></plugin>)");
    pinz->ReadConfig(settings.root(), {});
    EXPECT_TRUE(pinz->DAQRun({}));
    EXPECT_EQ(window().runtime().runMode(), rmDaqRunning);
    EXPECT_EQ(window().runtime().ioMap().count(), 2);
    EXPECT_TRUE(window().runtime().listener().active());
    pinz->DAQStop({});
    EXPECT_EQ(window().runtime().runMode(), rmConnected);
    EXPECT_EQ(window().runtime().ioMap().count(), 0);
    EXPECT_FALSE(window().runtime().listener().active());
}
