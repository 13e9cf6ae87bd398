// The host's IO records and IO tree, built from the project's IO tree.
#pragma once

#include <deque>
#include <memory>
#include <vector>

#include "host/core/HostTree.h"
#include "host/core/ProjectModel.h"
#include "host/core/TextPool.h"
#include "kelvane/IORecords.h"

namespace host {

class IoRecords {
  public:
    struct Tag {
        kelvane::TIOList* record;
        const TagSpec* spec;
    };

    // The specs are referenced, not copied: the tree must outlive this object.
    explicit IoRecords(const std::vector<IoNode>& tree);
    IoRecords(const IoRecords&) = delete;
    IoRecords& operator=(const IoRecords&) = delete;

    HostTree& tree() { return tree_; }
    // Every tag, depth-first in tree order (the order of a DAQ run's map).
    const std::vector<Tag>& tags() const { return tags_; }

  private:
    void addNodes(const std::vector<IoNode>& nodes, kelvane::TTreeNode* parent);
    kelvane::TIOList* makeRecord(const TagSpec& spec);

    TextPool texts_;
    std::unique_ptr<kelvane::TIOList[]> records_;
    std::size_t recordCount_ = 0;
    std::deque<kelvane::TIONodeRecord> nodeRecords_;
    std::deque<kelvane::TValueList> valueLists_;
    std::deque<std::vector<kelvane::TValueListEntry>> valueEntries_;
    std::vector<Tag> tags_;
    HostTree tree_;
};

}  // namespace host
