#include "host/core/ProjectModel.h"

#include "host/core/GuidText.h"
#include "kelvane/SystemRecords.h"

namespace host {

bool TagSpec::operator==(const TagSpec& other) const {
    const bool guidsMatch =
        guid.has_value() == other.guid.has_value() && (!guid || sameGuid(*guid, *other.guid));
    return guidsMatch && id == other.id && name == other.name && sigType == other.sigType &&
           values == other.values && rw == other.rw && unit == other.unit &&
           description == other.description && dataType == other.dataType &&
           decimals == other.decimals && drive == other.drive;
}

int32_t defaultPinKind(UnitKind kind) {
    return kind == UnitKind::Interface ? kelvane::kInterfacePinKind : 2;
}

}  // namespace host
