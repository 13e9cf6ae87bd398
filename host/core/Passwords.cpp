#include "host/core/Passwords.h"

#include <crypt.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>

namespace host {

namespace {

// crypt(3) takes a zero-terminated phrase: a password with a zero byte in it cannot match.
bool toPhrase(std::string_view password, std::string& phrase) {
    if (password.find('\0') != std::string_view::npos) {
        return false;
    }
    phrase.assign(password);
    return true;
}

bool sameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    volatile unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        difference = difference | static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace

std::string hashPassword(std::string_view password, HashCost cost) {
    std::string phrase;
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (!toPhrase(password, phrase) ||
        crypt_gensalt_rn("$y$", cost == HashCost::Light ? 1 : 0, nullptr, 0, setting,
                         sizeof setting) == nullptr) {
        throw std::runtime_error("cannot make a password hash");
    }
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(phrase.c_str(), setting, data.get(), sizeof *data);
    if (hash == nullptr) {
        throw std::runtime_error("cannot make a password hash");
    }
    return hash;
}

bool checkPassword(std::string_view password, const std::string& hash) {
    std::string phrase;
    if (!toPhrase(password, phrase)) {
        return false;
    }
    auto data = std::make_unique<crypt_data>();
    const char* computed = crypt_rn(phrase.c_str(), hash.c_str(), data.get(), sizeof *data);
    return computed != nullptr && sameText(computed, hash);
}

std::string_view hashSetting(std::string_view hash) {
    // $id$[parameters$]salt$checksum; bcrypt ($2a$, $2b$, $2y$) has salt and checksum in one
    // field.
    const int saltFields = hash.starts_with("$2") ? 1 : 2;
    std::size_t end = hash.size();
    for (int i = 0; i < saltFields; ++i) {
        const std::size_t dollar = end == 0 ? std::string_view::npos : hash.rfind('$', end - 1);
        if (dollar == std::string_view::npos) {
            return {};
        }
        end = dollar;
    }
    return hash.substr(0, end);
}

double checkTime(const std::string& hash) {
    double shortest = 0;
    for (int i = 0; i < 2; ++i) {
        const auto began = std::chrono::steady_clock::now();
        static_cast<void>(checkPassword({}, hash));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
        shortest = i == 0 ? took.count() : std::min(shortest, took.count());
    }
    return shortest;
}

}  // namespace host
