#include "host/core/SystemRecords.h"

#include "host/core/Utf16.h"
#include "kelvane/Text.h"

namespace host {

SystemRecords::SystemRecords(const std::vector<UnitSpec>& tree) {
    addUnits(tree, nullptr, nullptr);
    resolveParentKeys();
}

void SystemRecords::addUnits(const std::vector<UnitSpec>& specs, kelvane::TTreeNode* parent,
                             kelvane::TUnitData* parentData) {
    for (const UnitSpec& spec : specs) {
        Unit unit{&spec, nullptr, nullptr, &connectStates_.emplace_back(spec.connectState),
                  nullptr};
        if (spec.hasPinz) {
            pinz_.push_back(std::make_unique<UnitPinz>(spec, *unit.connectState));
            unit.pinz = pinz_.back().get();
        }
        if (spec.hasUnitData) {
            kelvane::TUnitData& data = data_.emplace_back();  // zeroed
            data.Pinz = unit.pinz;
            if (spec.deviceName) {
                data.Device = &devices_.emplace_back(
                    kelvane::TDeviceRecord{texts_.add(*spec.deviceName), spec.deviceKind, 0});
            }
            data.UnitId = spec.unitId;
            kelvane::StoreText(data.UnitName, toUtf16(spec.stationName));
            data.Info = spec.info ? texts_.add(*spec.info) : nullptr;
            data.Extra = spec.extra ? texts_.add(*spec.extra) : nullptr;
            data.ConnectState = unit.connectState;
            data.ParentUnit = spec.parent.kind == ParentRef::TreeParent ? parentData : nullptr;
            if (!spec.key.empty()) {
                byKey_[spec.key] = &data;
            }
            unit.data = &data;
        }
        const std::string caption = spec.stationName.empty()
                                        ? spec.deviceName.value_or(spec.info.value_or(""))
                                        : spec.stationName + " - " + spec.deviceName.value_or("");
        unit.node = tree_.add(parent, unit.data, static_cast<int>(spec.check), caption);
        units_.push_back(unit);
        addUnits(spec.children, unit.node, unit.data != nullptr ? unit.data : parentData);
    }
}

void SystemRecords::resolveParentKeys() {
    for (const Unit& unit : units_) {
        if (unit.data != nullptr && unit.spec->parent.kind == ParentRef::ByKey) {
            const auto parent = byKey_.find(unit.spec->parent.key);
            unit.data->ParentUnit = parent == byKey_.end() ? nullptr : parent->second;
        }
    }
}

const SystemRecords::Unit* SystemRecords::find(std::string_view name) const {
    for (const Unit& unit : units_) {
        const UnitSpec& spec = *unit.spec;
        if (spec.stationName.empty() ? spec.deviceName == name : spec.stationName == name) {
            return &unit;
        }
    }
    return nullptr;
}

}  // namespace host
