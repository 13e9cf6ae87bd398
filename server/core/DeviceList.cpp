#include "server/core/DeviceList.h"

#include <cinttypes>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "common/TextConvert.h"
#include "kelvane/Pinz.h"
#include "kelvane/Text.h"
#include "server/protocol/Request.h"
#include "trace/Trace.h"

namespace daq {

namespace {

constexpr const char* kWalk = "getMySystemNode";
// Longest ParentUnit chain followed; a longer one (a loop in the host's records) is an error.
constexpr int kMaxParentChain = 256;

constexpr const char* kTraceFile = protocol::kServerTraceFile;

// The Info text of the top unit of the unit's ParentUnit chain; empty without a parent.
std::u16string interfaceText(const kelvane::TUnitData& unit) {
    const kelvane::TUnitData* top = &unit;
    for (int steps = 0; top->ParentUnit != nullptr; ++steps) {
        if (steps == kMaxParentChain) {
            throw std::runtime_error("the unit's parent chain does not end");
        }
        top = top->ParentUnit;
    }
    return top == &unit ? std::u16string() : std::u16string(kelvane::RefText(top->Info));
}

// "<index + 1>:<name>" at the top level, the name alone below it.
std::string nodeLabel(const kelvane::IHostTree& tree, kelvane::TTreeNode* node,
                      std::u16string_view name) {
    if (tree.GetNodeLevel(node) != 0) {
        return toUtf8(name);
    }
    return std::to_string(tree.GetIndex(node) + 1) + ":" + toUtf8(name);
}

}  // namespace

DeviceList::DeviceList() : entries_(std::make_shared<const protocol::DeviceEntries>()) {}

void DeviceList::setTree(kelvane::IHostTree* tree) {
    tree_ = tree;
    DAQ_TRACE(kTraceInfo, "setMySystemVst", kTraceFile,
              "[TCP_SERVER] Set MySysytemVst Pointer : %" PRIxPTR,
              reinterpret_cast<uintptr_t>(tree));
}

void DeviceList::rebuild() {
    auto fresh = std::make_shared<protocol::DeviceEntries>();
    getMySystemNode(nullptr, *fresh);
    std::lock_guard lock(lock_);
    entries_ = std::move(fresh);
}

std::shared_ptr<const protocol::DeviceEntries> DeviceList::entries() const {
    std::lock_guard lock(lock_);
    return entries_;
}

void DeviceList::getMySystemNode(kelvane::TTreeNode* parent, protocol::DeviceEntries& out) const {
    if (tree_ == nullptr) {
        return;
    }
    for (kelvane::TTreeNode* node = tree_->GetFirstChild(parent); node != nullptr;
         node = tree_->GetNextSibling(node)) {
        try {
            switch (visitNode(node, out)) {
                case Visit::Skip:
                    continue;
                case Visit::StopLevel:
                    return;
                case Visit::Descend:
                    break;
            }
        } catch (const std::exception& error) {
            DAQ_TRACE(kTraceError, kWalk, kTraceFile, "%s", error.what());
        }
        getMySystemNode(node, out);
    }
}

DeviceList::Visit DeviceList::visitNode(kelvane::TTreeNode* node,
                                        protocol::DeviceEntries& out) const {
    const kelvane::IHostTree& tree = *tree_;
    if (tree.GetCheckState(node) != kelvane::kCheckedNormal) {
        return Visit::Skip;
    }
    kelvane::TUnitData* unit = kelvane::NodeRecord<kelvane::TUnitData>(tree, node);
    if (unit == nullptr || unit->Pinz == nullptr) {
        return Visit::StopLevel;
    }
    const std::string info = toUtf8(kelvane::RefText(unit->Info));
    if (unit->Pinz->PinKind() == kelvane::kInterfacePinKind) {
        DAQ_TRACE(kTraceInfo, kWalk, kTraceFile,
                  " [TCP_SERVER] getMySystemNode.. Interface Info : %s", info.c_str());
        return Visit::Descend;
    }
    const std::u16string_view unitName = kelvane::FieldText(unit->UnitName);
    if (!unitName.empty()) {
        if (tree.GetNodeLevel(node) == 0) {
            DAQ_TRACE(kTraceInfo, kWalk, kTraceFile,
                      " [TCP_SERVER] getMySystemNode..Data->UnitName : %s",
                      toUtf8(unitName).c_str());
        }
        DAQ_TRACE(kTraceInfo, kWalk, kTraceFile, " [TCP_SERVER] getMySystemNode..3 : %s",
                  nodeLabel(tree, node, unitName).c_str());
        const std::u16string_view extra = kelvane::RefText(unit->Extra);
        const std::string extraText = extra.empty() ? std::string() : " - " + toUtf8(extra);
        DAQ_TRACE(kTraceInfo, kWalk, kTraceFile, " [TCP_SERVER] getMySystemNode..4 : %s",
                  extraText.c_str());
        if (unit->Info != nullptr) {
            out.push_back({unit, interfaceText(*unit)});
        }
        DAQ_TRACE(kTraceInfo, kWalk, kTraceFile, " [TCP_SERVER] getMySystemNode..5 : %s",
                  info.c_str());
        return Visit::Descend;
    }
    if (unit->Device == nullptr) {
        return Visit::StopLevel;
    }
    std::string label = nodeLabel(tree, node, kelvane::RefText(unit->Device->DeviceName));
    DAQ_TRACE(kTraceInfo, kWalk, kTraceFile, " [TCP_SERVER] getMySystemNode..Device Name : %s",
              label.c_str());
    if (unit->Device->Kind == 2 && unit->Info != nullptr) {
        label = info;
    }
    DAQ_TRACE(kTraceInfo, kWalk, kTraceFile, " [TCP_SERVER] getMySystemNode..7 : %s",
              label.c_str());
    return Visit::Descend;
}

}  // namespace daq
