// "PARAMETERLISTCOUNT", "PARAMETERLIST", "PARAMETERDETAIL", "DAQSTATUS" and "DAQPERMISSION".
// The selected unit is the requesting connection's own.
#pragma once

#include "server/protocol/Request.h"

namespace daq::protocol {

// Selects the first matching device of the device list that is not selected already
// (command 5 to it); answers for the selection, none while nothing is selected.
bool handleParameterListCount(RequestContext& request);
// A window of the selected unit's parameters, hidden types left out; "LIST" only while the
// unit's connect state is 1. A negative "START_INDEX" reads from 0.
bool handleParameterList(RequestContext& request);
// One parameter with its group, range and items; an index outside the unit's parameters
// gets no answer.
bool handleParameterDetail(RequestContext& request);
bool handleDaqStatus(RequestContext& request);
bool handleDaqPermission(RequestContext& request);

}  // namespace daq::protocol
