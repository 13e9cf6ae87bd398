// The host's tree views (IO tree and system tree) as a plug-in reads them.
#pragma once

namespace kelvane {

struct TTreeNode;  // opaque to plug-ins

inline constexpr int kCheckedNormal = 2;  // checked, neither pressed nor disabled

class IHostTree {
  public:
    // First child of node; with a null node, the first top-level node.
    virtual TTreeNode* GetFirstChild(TTreeNode* node) const = 0;
    virtual TTreeNode* GetNextSibling(TTreeNode* node) const = 0;
    virtual int GetCheckState(TTreeNode* node) const = 0;
    // 0-based position among its siblings.
    virtual int GetIndex(TTreeNode* node) const = 0;
    // 0 for a top-level node.
    virtual int GetNodeLevel(TTreeNode* node) const = 0;
    // The node's data area; its first 8 bytes hold a pointer to the node's record.
    virtual void* GetNodeData(TTreeNode* node) const = 0;

  protected:
    ~IHostTree() = default;
};

// The record pointer stored at the start of a node's data area.
template <typename Record>
Record* NodeRecord(const IHostTree& tree, TTreeNode* node) {
    auto* data = static_cast<Record**>(tree.GetNodeData(node));
    return data == nullptr ? nullptr : *data;
}

}  // namespace kelvane
