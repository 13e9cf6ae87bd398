// GUIDs in their text form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "kelvane/IORecords.h"

namespace host {

std::optional<kelvane::TGuid> parseGuid(std::string_view text);
std::string formatGuid(const kelvane::TGuid& guid);
bool sameGuid(const kelvane::TGuid& a, const kelvane::TGuid& b);

}  // namespace host
