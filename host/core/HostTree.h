// The host's tree views (IO tree, system tree) as plug-ins read them: nodes with check states and
// a data area whose first 8 bytes point at the node's record.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "kelvane/HostTree.h"

namespace kelvane {

struct TTreeNode {
    TTreeNode* Parent = nullptr;
    int Index = 0;  // among its siblings
    int Level = 0;
    int CheckState = 0;
    void* Record = nullptr;  // the data area: its first 8 bytes are the record pointer
    std::string Caption;     // what the host's own view shows
    std::vector<std::unique_ptr<TTreeNode>> Children;
};

}  // namespace kelvane

namespace host {

// Built once by the host; read on the GUI thread (check states may change there).
class HostTree final : public kelvane::IHostTree {
  public:
    HostTree() = default;
    HostTree(const HostTree&) = delete;
    HostTree& operator=(const HostTree&) = delete;
    ~HostTree() = default;

    // Appends a node under parent (null: at the top).
    kelvane::TTreeNode* add(kelvane::TTreeNode* parent, void* record, int checkState,
                            std::string caption);
    const std::vector<std::unique_ptr<kelvane::TTreeNode>>& topNodes() const { return top_; }

    kelvane::TTreeNode* GetFirstChild(kelvane::TTreeNode* node) const override;
    kelvane::TTreeNode* GetNextSibling(kelvane::TTreeNode* node) const override;
    int GetCheckState(kelvane::TTreeNode* node) const override;
    int GetIndex(kelvane::TTreeNode* node) const override;
    int GetNodeLevel(kelvane::TTreeNode* node) const override;
    void* GetNodeData(kelvane::TTreeNode* node) const override;

  private:
    const std::vector<std::unique_ptr<kelvane::TTreeNode>>& siblingsOf(
        const kelvane::TTreeNode* node) const;

    std::vector<std::unique_ptr<kelvane::TTreeNode>> top_;
};

}  // namespace host
