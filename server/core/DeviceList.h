// The device list: rebuilt from the host's system tree on every connect (getMySystemNode),
// read by "DEVICELIST" and "PARAMETERLISTCOUNT". A rebuild publishes a new list; a request
// keeps the list it took, so a rebuild never frees an entry that is being read.
#pragma once

#include <memory>
#include <mutex>

#include "kelvane/HostTree.h"
#include "server/protocol/DeviceInfo.h"

namespace daq {

class DeviceList {
  public:
    DeviceList();

    // setMySystemVst (window thread); traced.
    void setTree(kelvane::IHostTree* tree);
    // Walks the tree into a new list and publishes it (window thread). Without a tree the new
    // list is empty.
    void rebuild();
    // The list as it stands (any thread); never null.
    std::shared_ptr<const protocol::DeviceEntries> entries() const;

  private:
    // What the walk does after a node.
    enum class Visit {
        Skip,       // not checked: the node's subtree is hidden
        StopLevel,  // unit data missing: the node's later siblings are not visited
        Descend,    // the node's children are walked next
    };

    void getMySystemNode(kelvane::TTreeNode* parent, protocol::DeviceEntries& out) const;
    Visit visitNode(kelvane::TTreeNode* node, protocol::DeviceEntries& out) const;

    kelvane::IHostTree* tree_ = nullptr;  // window thread only
    mutable std::mutex lock_;             // guards entries_ (the pointer, not the list)
    std::shared_ptr<const protocol::DeviceEntries> entries_;
};

}  // namespace daq
