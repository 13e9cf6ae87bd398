#include "Login.h"

#include <QString>
#include <cstdio>
#include <thread>

#include "Passwords.h"
#include "Utf16.h"
#include "kelvane/Text.h"

namespace host {

namespace {

constexpr qsizetype kLoggedIdLength = 64;

// A user id as it may appear in a log line: one line, printable, short.
std::string LoggableId(std::u16string_view id) {
    QString text = QString::fromUtf16(id.data(), std::min<qsizetype>(id.size(), kLoggedIdLength));
    for (QChar& c : text) {
        if (!c.isPrint()) {
            c = u'?';
        }
    }
    return text.toStdString() + (static_cast<qsizetype>(id.size()) > kLoggedIdLength ? "..." : "");
}

}  // namespace

LoginService::LoginService(std::vector<UserSpec> users) : users_(std::move(users)) {}

const UserSpec* LoginService::Find(std::string_view id) const {
    for (const UserSpec& user : users_) {
        if (user.Id == id) {
            return &user;
        }
    }
    return nullptr;
}

void LoginService::Check(const kelvane::_TPinzSendParam* param) {
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
    const std::string password = ToUtf8(kelvane::RefText(login->Password));
    const UserSpec* user = Find(ToUtf8(id));
    bool good = false;
    if (user != nullptr) {
        good = CheckPassword(password, user->Hash);
    } else if (!users_.empty()) {
        // An unknown user costs a hash as well, so that timing does not tell which ids exist.
        static_cast<void>(CheckPassword(password, users_.front().Hash));
    }
    if (good) {
        ++accepted_;
        command.Data = &acceptedAnswer_;
        if (user->MayWrite) {
            login->Flags[kelvane::kLoginWriteFlag] |= 1;
        }
        return;
    }
    ++refused_;
    command.Data = &refusedAnswer_;
    std::fprintf(stderr, "kelvane-host: login refused for user \"%s\"\n", LoggableId(id).c_str());
}

}  // namespace host
