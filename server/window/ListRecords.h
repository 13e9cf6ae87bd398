#pragma once

#include "server/core/WindowRecords.h"

namespace daq::window {

// The rows of the two lists are the records the server core hands to the window.
using UserRecord = daq::_TLinkTSData;
using EventRecord = daq::TDAQServerEvent;

}  // namespace daq::window
