// The host's login callback (command 111): checks a login against the project's users.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/core/Passwords.h"
#include "host/core/ProjectModel.h"
#include "kelvane/Pinz.h"

namespace host {

// How the service checks a password against a hash and weighs what a check costs; tests put in
// their own.
struct PasswordWork {
    std::function<bool(std::string_view password, const std::string& hash)> check = checkPassword;
    // The work of one check against `hash`; only the order matters. Asked once per distinct
    // HashSetting when the service is made.
    std::function<double(const std::string& hash)> cost = checkTime;
};

class LoginService {
  public:
    // A login for an id that is no user's checks its password against the hash whose check
    // costs the most, chosen here: unknown ids cannot be told from known ones by the time.
    explicit LoginService(std::vector<UserSpec> users, PasswordWork work = {});
    LoginService(const LoginService&) = delete;
    LoginService& operator=(const LoginService&) = delete;

    // The closure handed over with command 111; valid while this object lives.
    kelvane::TLoginEvent callback() {
        return kelvane::TLoginEvent::bind<&LoginService::check>(this);
    }

    // Answers a login command (code 112): Data points at true for an accepted user (whose
    // write flag is set when the user may write) and at false otherwise. Thread-safe; the
    // password is never kept or logged.
    void check(const kelvane::_TPinzSendParam* param);

    // Every check takes this much longer from now on: the stand-in for a slow host. Set before
    // the plug-in is started.
    void setDelay(std::chrono::milliseconds delay) { delay_ = delay; }

    int accepted() const { return accepted_.load(); }
    int refused() const { return refused_.load(); }

  private:
    const UserSpec* find(std::string_view id) const;

    const std::vector<UserSpec> users_;
    const PasswordWork work_;
    const std::string* decoy_;  // a hash of users_, null without users
    // What Data points at; never written after construction.
    bool acceptedAnswer_ = true;
    bool refusedAnswer_ = false;
    std::atomic<int> accepted_{0};
    std::atomic<int> refused_{0};
    std::chrono::milliseconds delay_{0};
};

}  // namespace host
