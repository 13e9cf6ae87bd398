// The plug-in object as the host drives it: its lifecycle with the information form, read events
// and children, the run state the host's calls move, the project settings, and the host's
// command channel. That the host's objects reach the run is seen end to end in the protocol
// scenarios against the real host.
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "host/units/UnitPinz.h"
#include "kelvane/PinRecords.h"
#include "plugin/ClsInterface.h"
#include "plugin/LibraryApplication.h"
#include "plugin/TPinzKV.h"
#include "plugin/TfrmInfo.h"
#include "server/window/TfrmDAQTray.h"
#include "tests/window/PluginTestSupport.h"

using namespace daq;
using daq::window::TfrmDAQTray;

namespace {

uint64_t asValue(const void* pointer) {
    return reinterpret_cast<uintptr_t>(pointer);
}

const std::string& entryText(const kelvane::TPinzCommand& command) {
    return *static_cast<const std::string*>(command.Data);
}

class PluginObject : public ::testing::Test {
  protected:
    void send(Command& command) { pinz.SendParam(&command.param); }
    void enable(int32_t& flag) {
        Command command(kelvane::cmdEnableFlag, asValue(&flag));
        send(command);
    }
    void readConfig(const std::string& element) {
        HostXml xml("<plugin>" + element + "</plugin>");
        pinz.ReadConfig(xml.root(), {});
    }
    TfrmDAQTray& window() { return pinz.commandObject()->serverWindow(); }
    template <typename T>
    T* widget(const char* name) {
        return window().findChild<T*>(QString::fromLatin1(name));
    }

    TPinzKV pinz{&HostApplicationEnvironment::application(), nullptr, false, nullptr};
};

}  // namespace

TEST(PluginLifecycle, FormsComeWithTheFirstInitAndGoWithTheObject) {
    auto& application = HostApplicationEnvironment::application();
    ASSERT_EQ(libraryApplication(), nullptr);
    QPointer<TfrmDAQTray> window;
    {
        TPinzKV pinz(&application, nullptr, true, nullptr);  // the host's "no form" flag
        EXPECT_EQ(libraryApplication(), &application);
        EXPECT_EQ(pinz.commandObject(), nullptr);
        // Operations that need the form do nothing meanwhile.
        EXPECT_TRUE(pinz.DAQRun({}));
        pinz.SetAddReadEvent(nullptr, {});
        EXPECT_EQ(pinz.Connect(nullptr), 1);

        QWidget host;
        host.resize(300, 200);
        host.show();
        pinz.InitInformForm(&host);
        TfrmInfo* form = pinz.infoForm();
        ASSERT_NE(form, nullptr);
        EXPECT_EQ(form->parentWidget(), &host);
        host.resize(400, 250);
        EXPECT_EQ(form->geometry(), host.rect());
        ASSERT_NE(pinz.commandObject(), nullptr);
        EXPECT_EQ(pinz.commandObject()->owner(), &pinz);
        window = &pinz.commandObject()->serverWindow();
        EXPECT_FALSE(window->isVisible());  // created hidden

        // A second call only moves the same form; a null parent makes it a floating dialog.
        pinz.InitInformForm(nullptr);
        EXPECT_EQ(pinz.infoForm(), form);
        EXPECT_TRUE(form->isWindow());

        QImage* icon = pinz.GetIcon();
        EXPECT_FALSE(icon->isNull());
        EXPECT_EQ(pinz.GetIcon(), icon);  // read once
    }
    EXPECT_TRUE(window.isNull());
    EXPECT_EQ(libraryApplication(), nullptr);  // the library's own again
}

TEST_F(PluginObject, ReadEventsAreKeptOncePerCodeAndDataPointerUntilDisconnect) {
    int a = 0;
    int b = 0;
    const kelvane::TReadEvent::Code code = [](void*, void*, int32_t, int32_t, const void*) {};
    const kelvane::TReadEvent first{code, &a};
    const kelvane::TReadEvent second{code, &b};
    const auto& events = pinz.commandObject()->readEvents();
    pinz.SetAddReadEvent(nullptr, first);
    pinz.SetAddReadEvent(nullptr, first);
    pinz.SetAddReadEvent(nullptr, second);
    EXPECT_EQ(events.Count(), 2);
    pinz.SetDelReadEvent(nullptr, kelvane::TReadEvent{code, &pinz});  // not in the list
    pinz.SetDelReadEvent(nullptr, first);
    ASSERT_EQ(events.Count(), 1);
    EXPECT_TRUE(events[0] == second);
    pinz.Disconnect();
    EXPECT_EQ(events.Count(), 0);
    EXPECT_EQ(pinz.connected(), 0);
}

TEST_F(PluginObject, ChildRemovalGoesByPinType) {
    host::UnitSpec spec;
    spec.pinKind = 11;
    int32_t connected = 1;
    host::UnitPinz firstServer(spec, connected);
    host::UnitPinz secondServer(spec, connected);
    spec.pinKind = 5;
    host::UnitPinz other(spec, connected);
    spec.pinKind = 7;
    host::UnitPinz stranger(spec, connected);
    pinz.SetAddChildPinz(&firstServer);
    pinz.SetAddChildPinz(&other);
    pinz.SetAddChildPinz(&secondServer);
    // The first child of the same pin type goes, whichever object was passed.
    EXPECT_TRUE(pinz.SetDelChildPinz(&secondServer));
    EXPECT_FALSE(pinz.SetDelChildPinz(&stranger));
    EXPECT_FALSE(pinz.SetDelChildPinz(nullptr));
    ASSERT_EQ(pinz.children().Count(), 2);
    EXPECT_EQ(pinz.children()[0], &other);
    EXPECT_EQ(pinz.children()[1], &secondServer);
}

// The host's calls, one after the other, and the run state, Active and the operator's controls
// after each (RunMode as the host reads it through the address of command 22).
TEST_F(PluginObject, HostCallsMoveTheRunStateActiveAndTheControls) {
    Command address(kelvane::cmdRunModeAddress);
    send(address);
    const auto* seen = static_cast<const int32_t*>(address.command.Data);
    ASSERT_EQ(seen, window().runtime().runModeAddress());
    int32_t flag = 0;
    struct Step {
        const char* call;
        std::function<void()> act;
        int32_t runMode;
        bool active;
        bool checked;        // the Active switch
        bool switchEnabled;  // the Active switch
    };
    const Step steps[] = {
        {"disabled", [&] { enable(flag); }, 4, false, false, false},
        {"connect while disabled", [&] { pinz.Connect(nullptr); }, 4, false, false, false},
        {"enabled", [&] { flag = 1, enable(flag); }, 0, false, false, true},
        {"connect while uncoupled", [&] { pinz.Connect(nullptr); }, 0, false, false, true},
        {"RunMode 4", [&] { readConfig(R"(<TCPServer RunMode="4"/>)"); }, 0, true, true, true},
        {"RunMode 3", [&] { readConfig(R"(<TCPServer RunMode="3"/>)"); }, 1, false, false, true},
        {"RunMode abc", [&] { readConfig(R"(<TCPServer RunMode="abc"/>)"); }, 0, true, true, true},
        {"Active only", [&] { readConfig(R"(<TCPServer Active="1"/>)"); }, 0, false, false, true},
        {"no element", [&] { readConfig(R"(<Other RunMode="1"/>)"); }, 0, false, false, true},
        {"RunMode 1", [&] { readConfig(R"(<TCPServer RunMode="1"/>)"); }, 1, false, false, true},
        {"enabled again", [&] { enable(flag); }, 1, false, false, true},
        {"connect", [&] { pinz.Connect(nullptr); }, 2, true, false, false},
        {"disconnect", [&] { pinz.Disconnect(); }, 1, true, false, true},
        {"settings while disabled", [&] { flag = 0, readConfig(R"(<TCPServer/>)"); }, 1, true,
         false, true},
        {"enable flag withdrawn",
         [&] {
             Command none(kelvane::cmdEnableFlag, 0);
             send(none);
         },
         4, true, false, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.call);
        step.act();
        EXPECT_EQ(*seen, step.runMode);
        EXPECT_EQ(window().runtime().active(), step.active);
        EXPECT_EQ(widget<QCheckBox>("cbxActive")->isChecked(), step.checked);
        EXPECT_EQ(widget<QCheckBox>("cbxActive")->isEnabled(), step.switchEnabled);
        EXPECT_EQ(widget<QComboBox>("cbxIP")->isEnabled(), step.runMode != 4);
        EXPECT_EQ(widget<QPushButton>("btnConfig")->isEnabled(), step.runMode != 4);
    }
}

TEST_F(PluginObject, WriteConfigAppendsTheRunModeAndActive) {
    int32_t flag = 1;
    enable(flag);
    readConfig(R"(<TCPServer RunMode="3"/>)");  // RunMode 1, Active false
    for (const char* active : {"0", "1"}) {
        HostXml out("<plugin/>");
        pinz.WriteConfig(out.root());
        const pugi::xml_node written = out.element().child("TCPServer");
        EXPECT_STREQ(written.attribute("RunMode").value(), "1");
        EXPECT_STREQ(written.attribute("Active").value(), active);
        widget<QCheckBox>("cbxActive")->setChecked(true);
    }
}

// Each command code of the host and its effect, in this order (the texts before and after a
// language change).
TEST_F(PluginObject, CommandChannelCodes) {
    int marker = 0;
    HostXml shortTable(languageXml(5));
    HostXml fullTable(languageXml(44));
    ActiveChanges seen;
    const kelvane::TActivateEvent onActive = seen.closure();
    QWidget host;
    host.show();
    const auto entry = [this](int32_t code) {
        Command text(code);
        send(text);
        return entryText(text.command);
    };
    struct Row {
        const char* what;
        int32_t code;
        uint64_t value;
        void* data;
        std::function<void(kelvane::TPinzCommand&)> check;
        int32_t kind = kelvane::kPinzCommandKind;
    };
    const Row rows[] = {
        {"clear result", kelvane::cmdClearResult, 0, nullptr,
         [](auto& c) { EXPECT_EQ(c.Result, 0); }},
        {"other kind", kelvane::cmdClearResult, 0, nullptr,
         [](auto& c) { EXPECT_EQ(c.Result, -1); }, 53},
        {"unknown code", 77, 0, &marker,
         [&](auto& c) {
             EXPECT_EQ(c.Data, &marker);
             EXPECT_EQ(c.Result, -1);
         }},
        {"clear data", kelvane::cmdClearData, 0, &marker,
         [](auto& c) { EXPECT_EQ(c.Data, nullptr); }},
        {"text 42 before any language", kelvane::cmdTextEntry42, 0, nullptr,
         [](auto& c) { EXPECT_EQ(entryText(c), ""); }},
        {"short language", kelvane::cmdLanguage, 0, shortTable.root(),
         [&](auto&) {
             EXPECT_EQ(pinz.commandObject()->textTable().count(), 5);
             EXPECT_EQ(entry(kelvane::cmdTextEntry43), "");  // missing entries read as empty
             EXPECT_EQ(widget<QLabel>("Label1")->text(), "text2");
         }},
        {"full language", kelvane::cmdLanguageAlt, 0, fullTable.root(),
         [&](auto&) {
             EXPECT_EQ(entry(kelvane::cmdTextEntry42), "text42");
             EXPECT_EQ(entry(kelvane::cmdTextEntry43), "text43");
             EXPECT_EQ(widget<QLabel>("lbTitle")->text(), "text42");
         }},
        {"active change", kelvane::cmdActiveChange, asValue(&onActive), nullptr,
         [&](auto&) {
             widget<QCheckBox>("cbxActive")->setChecked(true);
             EXPECT_EQ(seen.calls, 1);
             EXPECT_EQ(seen.sender, &window());
         }},
        {"embed window", kelvane::cmdEmbedWindow, asValue(&host), nullptr,
         [&](auto&) {
             EXPECT_EQ(window().parentWidget(), &host);
             EXPECT_EQ(window().geometry(), host.rect());
             EXPECT_FALSE(window().isHidden());
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Command command(row.code, row.value, row.data);
        command.param.Kind = row.kind;
        send(command);
        row.check(command.command);
    }
    window().setParent(nullptr);  // the host's widget goes first here
}
