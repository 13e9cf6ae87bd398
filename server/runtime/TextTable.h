// The host's language texts for this plug-in, addressed by index. The host may supply fewer
// texts than the window reads: an entry it did not supply reads as the empty text.
#pragma once

#include <cstdint>
#include <string>

#include "kelvane/TTList.h"
#include "kelvane/XMLNode.h"

namespace daq {

class TextTable {
  public:
    // Empties the table, then appends the text of every child of the root's node "_<pinType>",
    // in document order. A null root or a missing node leaves the table empty.
    void load(kelvane::IXMLNode* root, int32_t pinType);
    void clear() { entries_.Clear(); }

    int32_t count() const { return entries_.Count(); }
    // Entry `index`, or the empty text when the host did not supply it. The reference stays
    // valid until the next load() or clear().
    const std::string& at(int32_t index) const;

  private:
    kelvane::TTList<std::string> entries_;
};

}  // namespace daq
