// Password hashes of the project's users, made and checked with the system's crypt(3).
#pragma once

#include <string>
#include <string_view>

namespace host {

// How much work a hash takes to check. The host checks logins while the plug-in holds its
// request lock, so the demo's users take the light setting; stored users of a real project
// should take the system's default.
enum class HashCost {
    Light,   // yescrypt at its lowest cost: a few milliseconds per check
    Default  // yescrypt at the system's default cost: about a tenth of a second per check
};

// A salted hash ("$y$", yescrypt) with a fresh random salt.
std::string hashPassword(std::string_view password, HashCost cost = HashCost::Default);
// True when the password gives the hash; the comparison takes the same time wherever the hashes
// differ. Thread-safe.
bool checkPassword(std::string_view password, const std::string& hash);

// The part of a hash that fixes how much work a check takes: the method and its parameters,
// without salt and checksum ("$y$j9T" of "$y$j9T$salt$checksum"; "$2b$12" of a bcrypt hash).
std::string_view hashSetting(std::string_view hash);
// The work one check against `hash` takes, measured: the shorter of two checks, in seconds.
double checkTime(const std::string& hash);

}  // namespace host
