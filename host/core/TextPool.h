// Owns the UTF-16 texts that host records refer to; their addresses never change.
#pragma once

#include <deque>
#include <string>
#include <string_view>

#include "host/core/Utf16.h"

namespace host {

class TextPool {
  public:
    const char16_t* add(std::string_view utf8) {
        texts_.push_back(toUtf16(utf8));
        return texts_.back().c_str();
    }

  private:
    std::deque<std::u16string> texts_;
};

}  // namespace host
