#include "SystemRecords.h"

#include "Utf16.h"
#include "kelvane/Text.h"

namespace host {

SystemRecords::SystemRecords(const std::vector<UnitSpec>& tree) {
    AddUnits(tree, nullptr, nullptr);
    ResolveParentKeys();
}

void SystemRecords::AddUnits(const std::vector<UnitSpec>& specs, kelvane::TTreeNode* parent,
                             kelvane::TUnitData* parentData) {
    for (const UnitSpec& spec : specs) {
        Unit unit{&spec, nullptr, nullptr, &connectStates_.emplace_back(spec.ConnectState),
                  nullptr};
        if (spec.HasPinz) {
            pinz_.push_back(std::make_unique<UnitPinz>(spec, *unit.ConnectState));
            unit.Pinz = pinz_.back().get();
        }
        if (spec.HasUnitData) {
            kelvane::TUnitData& data = data_.emplace_back();  // zeroed
            data.Pinz = unit.Pinz;
            if (spec.DeviceName) {
                data.Device = &devices_.emplace_back(
                    kelvane::TDeviceRecord{texts_.Add(*spec.DeviceName), spec.DeviceKind, 0});
            }
            data.UnitId = spec.UnitId;
            kelvane::StoreText(data.UnitName, ToUtf16(spec.StationName));
            data.Info = spec.Info ? texts_.Add(*spec.Info) : nullptr;
            data.Extra = spec.Extra ? texts_.Add(*spec.Extra) : nullptr;
            data.ConnectState = unit.ConnectState;
            data.ParentUnit = spec.Parent.Kind == ParentRef::TreeParent ? parentData : nullptr;
            if (!spec.Key.empty()) {
                byKey_[spec.Key] = &data;
            }
            unit.Data = &data;
        }
        const std::string caption = spec.StationName.empty()
                                        ? spec.DeviceName.value_or(spec.Info.value_or(""))
                                        : spec.StationName + " - " + spec.DeviceName.value_or("");
        unit.Node = tree_.Add(parent, unit.Data, static_cast<int>(spec.Check), caption);
        units_.push_back(unit);
        AddUnits(spec.Children, unit.Node, unit.Data != nullptr ? unit.Data : parentData);
    }
}

void SystemRecords::ResolveParentKeys() {
    for (const Unit& unit : units_) {
        if (unit.Data != nullptr && unit.Spec->Parent.Kind == ParentRef::ByKey) {
            const auto parent = byKey_.find(unit.Spec->Parent.Key);
            unit.Data->ParentUnit = parent == byKey_.end() ? nullptr : parent->second;
        }
    }
}

const SystemRecords::Unit* SystemRecords::Find(std::string_view name) const {
    for (const Unit& unit : units_) {
        const UnitSpec& spec = *unit.Spec;
        if (spec.StationName.empty() ? spec.DeviceName == name : spec.StationName == name) {
            return &unit;
        }
    }
    return nullptr;
}

}  // namespace host
