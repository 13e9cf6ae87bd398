#include "host/core/Login.h"

#include <QString>
#include <cstdio>
#include <set>
#include <thread>

#include "host/core/Passwords.h"
#include "host/core/Utf16.h"
#include "kelvane/Text.h"

namespace host {

namespace {

constexpr qsizetype kLoggedIdLength = 64;

// A user id as it may appear in a log line: one line, printable, short.
std::string loggableId(std::u16string_view id) {
    QString text = QString::fromUtf16(id.data(), std::min<qsizetype>(id.size(), kLoggedIdLength));
    for (QChar& c : text) {
        if (!c.isPrint()) {
            c = u'?';
        }
    }
    return text.toStdString() + (static_cast<qsizetype>(id.size()) > kLoggedIdLength ? "..." : "");
}

// The hash of `users` whose check costs the most; each setting is weighed once.
const std::string* costliestHash(const std::vector<UserSpec>& users,
                                 const std::function<double(const std::string&)>& cost) {
    std::set<std::string_view> weighed;
    const std::string* costliest = nullptr;
    double most = 0;
    for (const UserSpec& user : users) {
        if (!weighed.insert(hashSetting(user.hash)).second) {
            continue;
        }
        const double work = cost(user.hash);
        if (costliest == nullptr || work > most) {
            costliest = &user.hash;
            most = work;
        }
    }
    return costliest;
}

}  // namespace

LoginService::LoginService(std::vector<UserSpec> users, PasswordWork work)
    : users_(std::move(users)), work_(std::move(work)), decoy_(costliestHash(users_, work_.cost)) {}

const UserSpec* LoginService::find(std::string_view id) const {
    for (const UserSpec& user : users_) {
        if (user.id == id) {
            return &user;
        }
    }
    return nullptr;
}

void LoginService::check(const kelvane::_TPinzSendParam* param) {
    if (param == nullptr || param->Kind != kelvane::kPinzCommandKind || param->Command == nullptr ||
        param->Command->Code != kelvane::kLoginCommand) {
        return;
    }
    if (delay_.count() > 0) {
        std::this_thread::sleep_for(delay_);
    }
    kelvane::TPinzCommand& command = *param->Command;
    auto* login = reinterpret_cast<kelvane::TPinzLoginUser*>(command.Value);
    if (login == nullptr) {
        command.Data = &refusedAnswer_;
        return;
    }
    const std::u16string_view id = kelvane::RefText(login->Id);
    const std::string password = toUtf8(kelvane::RefText(login->Password));
    const UserSpec* user = find(toUtf8(id));
    bool good = false;
    if (user != nullptr) {
        good = work_.check(password, user->hash);
    } else if (decoy_ != nullptr) {
        // An unknown user costs as much as the costliest known one: timing tells no ids apart.
        static_cast<void>(work_.check(password, *decoy_));
    }
    if (good) {
        ++accepted_;
        command.Data = &acceptedAnswer_;
        if (user->mayWrite) {
            login->Flags[kelvane::kLoginWriteFlag] |= 1;
        }
        return;
    }
    ++refused_;
    command.Data = &refusedAnswer_;
    std::fprintf(stderr, "kelvane-host: login refused for user \"%s\"\n", loggableId(id).c_str());
}

}  // namespace host
