// The host's system tree: unit records, device records, connect states and the units' plug-in
// objects, built from the project's system tree.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "host/core/HostTree.h"
#include "host/core/ProjectModel.h"
#include "host/core/TextPool.h"
#include "host/units/UnitPinz.h"
#include "kelvane/SystemRecords.h"

namespace host {

class SystemRecords {
  public:
    struct Unit {
        const UnitSpec* spec;
        kelvane::TUnitData* data;  // null when the node carries no unit record
        UnitPinz* pinz;            // null when the unit has no plug-in object
        int32_t* connectState;     // written with atomic stores: plug-ins read it on IO threads
        kelvane::TTreeNode* node;
    };

    // The specs are referenced, not copied: the tree must outlive this object.
    explicit SystemRecords(const std::vector<UnitSpec>& tree);
    SystemRecords(const SystemRecords&) = delete;
    SystemRecords& operator=(const SystemRecords&) = delete;

    HostTree& tree() { return tree_; }
    // Every unit, depth-first in tree order.
    const std::vector<Unit>& units() const { return units_; }
    // The first unit whose station name (or, for other units, device name) is name; null if none.
    const Unit* find(std::string_view name) const;

  private:
    void addUnits(const std::vector<UnitSpec>& specs, kelvane::TTreeNode* parent,
                  kelvane::TUnitData* parentData);
    void resolveParentKeys();

    TextPool texts_;
    std::deque<kelvane::TUnitData> data_;
    std::deque<kelvane::TDeviceRecord> devices_;
    std::deque<int32_t> connectStates_;
    std::vector<std::unique_ptr<UnitPinz>> pinz_;
    std::map<std::string, kelvane::TUnitData*> byKey_;
    std::vector<Unit> units_;
    HostTree tree_;
};

}  // namespace host
