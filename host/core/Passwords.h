// Password hashes of the project's users, made and checked with the system's crypt(3).
#pragma once

#include <string>
#include <string_view>

namespace host {

// A salted hash ("$y$", yescrypt) with a fresh random salt.
std::string HashPassword(std::string_view password);
// True when the password gives the hash; the comparison takes the same time wherever the hashes
// differ. Thread-safe.
bool CheckPassword(std::string_view password, const std::string& hash);

}  // namespace host
