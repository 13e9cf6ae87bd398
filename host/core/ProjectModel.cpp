#include "ProjectModel.h"

#include "GuidText.h"
#include "kelvane/SystemRecords.h"

namespace host {

bool TagSpec::operator==(const TagSpec& other) const {
    const bool sameGuid =
        Guid.has_value() == other.Guid.has_value() && (!Guid || SameGuid(*Guid, *other.Guid));
    return sameGuid && Id == other.Id && Name == other.Name && SigType == other.SigType &&
           Values == other.Values && RW == other.RW && Unit == other.Unit &&
           Description == other.Description && DataType == other.DataType &&
           Decimals == other.Decimals && Drive == other.Drive;
}

int32_t DefaultPinKind(UnitKind kind) {
    return kind == UnitKind::Interface ? kelvane::kInterfacePinKind : 2;
}

}  // namespace host
