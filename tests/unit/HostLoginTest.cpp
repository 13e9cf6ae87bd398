// The host's login callback: users and passwords from the project, write permission, refusals.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "host/core/DemoProject.h"
#include "host/core/Login.h"
#include "host/core/Passwords.h"

using namespace host;
using namespace kelvane;

namespace {

struct Answer {
    bool answered = false;  // Data was set
    bool accepted = false;
    bool mayWrite = false;
};

// Calls the callback the way the plug-in's login check does.
Answer login(const TLoginEvent& callback, const char16_t* id, const char16_t* password) {
    TPinzLoginUser user{u"", id, password, {}};
    TPinzCommand command{};
    command.Code = kLoginCommand;
    command.Value = reinterpret_cast<uint64_t>(&user);
    command.Text = u"";
    _TPinzSendParam param{};
    param.Kind = kPinzCommandKind;
    param.Command = &command;
    callback(&param);
    Answer answer;
    answer.answered = command.Data != nullptr;
    answer.accepted = answer.answered && (*static_cast<const bool*>(command.Data));
    answer.mayWrite = (user.Flags[kLoginWriteFlag] & 1) != 0;
    return answer;
}

class LoginTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { users_ = new std::vector<UserSpec>(makeDemoProject().users); }
    static void TearDownTestSuite() { delete users_; }

    static std::vector<UserSpec>* users_;
};

std::vector<UserSpec>* LoginTest::users_ = nullptr;

}  // namespace

TEST_F(LoginTest, UsersAreCheckedAgainstTheirHashes) {
    LoginService service(*users_);
    const TLoginEvent callback = service.callback();

    const Answer admin = login(callback, u"admin", u"admin");
    EXPECT_TRUE(admin.accepted);
    EXPECT_TRUE(admin.mayWrite);

    const Answer viewer = login(callback, u"viewer", u"viewer");
    EXPECT_TRUE(viewer.accepted);
    EXPECT_FALSE(viewer.mayWrite);

    const Answer wrong = login(callback, u"admin", u"viewer");
    EXPECT_TRUE(wrong.answered);
    EXPECT_FALSE(wrong.accepted);
    EXPECT_FALSE(wrong.mayWrite);

    const Answer unknown = login(callback, u"nobody", u"admin");
    EXPECT_TRUE(unknown.answered);
    EXPECT_FALSE(unknown.accepted);

    EXPECT_FALSE(login(callback, u"ADMIN", u"admin").accepted) << "ids compare exactly";
    EXPECT_FALSE(login(callback, u"admin", nullptr).accepted);
    EXPECT_EQ(service.accepted(), 2);
    EXPECT_EQ(service.refused(), 4);
}

TEST_F(LoginTest, RefusalsAreLoggedWithTheIdButNeverThePassword) {
    LoginService service(*users_);
    ::testing::internal::CaptureStderr();
    login(service.callback(), u"mallory", u"s3cret-guess");
    login(service.callback(), u"line\nbreak", u"other-secret");
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("login refused for user \"mallory\""), std::string::npos) << log;
    EXPECT_NE(log.find("\"line?break\""), std::string::npos) << "one line per refusal: " << log;
    EXPECT_EQ(log.find("s3cret"), std::string::npos);
    EXPECT_EQ(log.find("other-secret"), std::string::npos);
}

TEST_F(LoginTest, OtherCommandsAreNotAnswered) {
    LoginService service(*users_);
    TPinzCommand command{};
    command.Code = 5;
    _TPinzSendParam param{};
    param.Kind = kPinzCommandKind;
    param.Command = &command;
    service.check(&param);
    EXPECT_EQ(command.Data, nullptr);
    EXPECT_EQ(service.accepted() + service.refused(), 0);
}

// IO threads log in at the same time.
TEST_F(LoginTest, ConcurrentLoginsGetTheirOwnAnswers) {
    LoginService service(*users_);
    const TLoginEvent callback = service.callback();
    std::vector<std::thread> threads;
    std::vector<Answer> answers(4);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        threads.emplace_back([&, i] {
            answers[i] = i % 2 == 0 ? login(callback, u"admin", u"admin")
                                    : login(callback, u"viewer", u"wrong");
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].accepted, i % 2 == 0) << i;
        EXPECT_EQ(answers[i].mayWrite, i % 2 == 0) << i;
    }
}

TEST_F(LoginTest, ADelaySlowsEveryCheckAndChangesNoAnswer) {
    LoginService service(*users_);
    service.setDelay(std::chrono::milliseconds(150));
    const TLoginEvent callback = service.callback();
    for (const char16_t* password : {u"admin", u"wrong"}) {
        const auto began = std::chrono::steady_clock::now();
        const Answer answer = login(callback, u"admin", password);
        EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(150));
        EXPECT_TRUE(answer.answered);
        EXPECT_EQ(answer.accepted, password[0] == u'a');
    }
}

// An unknown id runs a check as costly as the costliest known user's, so that timing tells no
// ids apart, wherever that user stands in the project.
TEST_F(LoginTest, UnknownIdsAreCheckedAgainstTheCostliestHash) {
    std::vector<UserSpec> users = *users_;  // light hashes, one setting
    const UserSpec strong{"operator", hashPassword("operator"), false};
    users.push_back(strong);
    users.push_back({"guest", hashPassword("guest", HashCost::Light), false});
    ASSERT_NE(hashSetting(users.front().hash), hashSetting(strong.hash));
    EXPECT_EQ(hashSetting(users.front().hash), hashSetting(users.back().hash));

    std::vector<std::string> checked;
    std::vector<std::string> weighed;
    PasswordWork work;
    work.check = [&](std::string_view password, const std::string& hash) {
        checked.push_back(hash);
        return checkPassword(password, hash);
    };
    work.cost = [&](const std::string& hash) {
        weighed.push_back(hash);
        return hash == strong.hash ? 2.0 : 1.0;
    };
    LoginService service(users, work);
    EXPECT_EQ(weighed, (std::vector<std::string>{users.front().hash, strong.hash}));
    EXPECT_FALSE(login(service.callback(), u"nobody", u"operator").accepted);
    EXPECT_TRUE(login(service.callback(), u"admin", u"admin").accepted);
    EXPECT_EQ(checked, (std::vector<std::string>{strong.hash, users.front().hash}));
}
