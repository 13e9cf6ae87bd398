// The host's login callback: users and passwords from the project, write permission, refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "host/core/DemoProject.h"
#include "host/core/Login.h"
#include "host/core/Passwords.h"
#include "tests/unit/HostTestSupport.h"

using namespace host;
using namespace kelvane;

namespace {

struct Answer {
    bool answered = false;  // Data was set
    bool accepted = false;
    bool mayWrite = false;
    bool operator==(const Answer&) const = default;
};

// Calls the callback the way the plug-in's login check does.
Answer login(const TLoginEvent& callback, const char16_t* id, const char16_t* password,
             int32_t code = kLoginCommand) {
    TPinzLoginUser user{u"", id, password, {}};
    Command command(code, reinterpret_cast<uint64_t>(&user));
    callback(&command.param);
    const bool answered = command.command.Data != nullptr;
    return {answered, answered && *static_cast<const bool*>(command.command.Data),
            (user.Flags[kLoginWriteFlag] & 1) != 0};
}

}  // namespace

// Who is accepted with which password: CoreSessionTest, with this service; here what only the
// service shows.
TEST(Login, UsersAreCheckedAgainstTheirHashesAndRefusalsLogNoPassword) {
    LoginService service(makeDemoProject().users);
    const struct {
        const char16_t* id;
        const char16_t* password;
        Answer answer;
    } cases[] = {
        {u"admin", u"admin", {true, true, true}},
        {u"viewer", u"viewer", {true, true, false}},
        {u"nobody", u"s3cret-guess", {true, false, false}},
        {u"ADMIN", u"admin", {true, false, false}},  // ids compare exactly
        {u"admin", nullptr, {true, false, false}},
        {u"line\nbreak", u"other-secret", {true, false, false}},
    };
    ::testing::internal::CaptureStderr();
    for (const auto& each : cases) {
        EXPECT_EQ(login(service.callback(), each.id, each.password), each.answer) << &each - cases;
    }
    EXPECT_EQ(login(service.callback(), u"admin", u"admin", 5), Answer{}) << "not a login command";
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(service.accepted(), 2);
    EXPECT_EQ(service.refused(), 4);
    EXPECT_NE(log.find("login refused for user \"nobody\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"line?break\""), std::string::npos) << "one line per refusal: " << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(log.find("other-secret"), std::string::npos);
}

TEST(Login, ADelaySlowsTheCheck) {
    LoginService service(makeDemoProject().users);
    service.setDelay(std::chrono::milliseconds(50));
    const auto began = std::chrono::steady_clock::now();
    EXPECT_TRUE(login(service.callback(), u"admin", u"admin").accepted);
    EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(50));
}

// An unknown id runs a check as costly as the costliest known user's, so that timing tells no
// ids apart, wherever that user stands in the project.
TEST(Login, UnknownIdsAreCheckedAgainstTheCostliestHash) {
    std::vector<UserSpec> users = makeDemoProject().users;  // light hashes, one setting
    const UserSpec strong{"operator", hashPassword("operator"), false};
    users.push_back(strong);
    users.push_back({"guest", hashPassword("guest", HashCost::Light), false});
    std::vector<std::string> checked;
    PasswordWork work;
    work.check = [&](std::string_view password, const std::string& hash) {
        checked.push_back(hash);
        return checkPassword(password, hash);
    };
    work.cost = [&](const std::string& hash) { return hash == strong.hash ? 2.0 : 1.0; };
    LoginService service(users, work);
    EXPECT_FALSE(login(service.callback(), u"nobody", u"operator").accepted);
    EXPECT_TRUE(login(service.callback(), u"admin", u"admin").accepted);
    EXPECT_EQ(checked, (std::vector<std::string>{strong.hash, users.front().hash}));
}
