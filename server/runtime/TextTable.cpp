#include "server/runtime/TextTable.h"

namespace daq {

namespace {
const std::string kMissingText;
}

void TextTable::load(kelvane::IXMLNode* root, int32_t pinType) {
    entries_.Clear();
    if (root == nullptr) {
        return;
    }
    // Appended rather than "_" + to_string(): GCC 12 at -O2 warns falsely (-Wrestrict) there.
    std::string name = "_";
    name += std::to_string(pinType);
    kelvane::IXMLNode* node = root->ChildNode(name);
    if (node == nullptr) {
        return;
    }
    const int children = node->ChildCount();
    for (int i = 0; i < children; ++i) {
        kelvane::IXMLNode* child = node->Child(i);
        if (entries_.Add(child == nullptr ? std::string() : child->Text()) < 0) {
            return;
        }
    }
}

const std::string& TextTable::at(int32_t index) const {
    return index >= 0 && index < entries_.Count() ? entries_[index] : kMissingText;
}

}  // namespace daq
