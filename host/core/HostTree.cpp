#include "host/core/HostTree.h"

namespace host {

using kelvane::TTreeNode;

TTreeNode* HostTree::add(TTreeNode* parent, void* record, int checkState, std::string caption) {
    auto& siblings = parent == nullptr ? top_ : parent->Children;
    auto node = std::make_unique<TTreeNode>();
    node->Parent = parent;
    node->Index = static_cast<int>(siblings.size());
    node->Level = parent == nullptr ? 0 : parent->Level + 1;
    node->CheckState = checkState;
    node->Record = record;
    node->Caption = std::move(caption);
    siblings.push_back(std::move(node));
    return siblings.back().get();
}

const std::vector<std::unique_ptr<TTreeNode>>& HostTree::siblingsOf(const TTreeNode* node) const {
    return node->Parent == nullptr ? top_ : node->Parent->Children;
}

TTreeNode* HostTree::GetFirstChild(TTreeNode* node) const {
    const auto& children = node == nullptr ? top_ : node->Children;
    return children.empty() ? nullptr : children.front().get();
}

TTreeNode* HostTree::GetNextSibling(TTreeNode* node) const {
    if (node == nullptr) {
        return nullptr;
    }
    const auto& siblings = siblingsOf(node);
    const auto next = static_cast<std::size_t>(node->Index) + 1;
    return next < siblings.size() ? siblings[next].get() : nullptr;
}

int HostTree::GetCheckState(TTreeNode* node) const {
    return node == nullptr ? 0 : node->CheckState;
}

int HostTree::GetIndex(TTreeNode* node) const {
    return node == nullptr ? 0 : node->Index;
}

int HostTree::GetNodeLevel(TTreeNode* node) const {
    return node == nullptr ? 0 : node->Level;
}

void* HostTree::GetNodeData(TTreeNode* node) const {
    return node == nullptr ? nullptr : &node->Record;
}

}  // namespace host
