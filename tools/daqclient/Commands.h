// The commands of daqclient. Each runs on an open ServerLink, writes its result to the Output
// and ends with a CommandError when it fails (after writing whatever it could).
#pragma once

#include <string>
#include <vector>

#include "tools/daqclient/Options.h"
#include "tools/daqclient/Output.h"
#include "tools/daqclient/ServerLink.h"

namespace daqclient {

void runAlive(ServerLink& link, Output& out);
void runInfo(ServerLink& link, Output& out);
void runStatus(ServerLink& link, Output& out);
void runTags(ServerLink& link, Output& out, const TagsOptions& options);
void runRead(ServerLink& link, Output& out, const Selection& selection);
void runDevices(ServerLink& link, Output& out);
void runParams(ServerLink& link, Output& out, const ParamsOptions& options);
void runWrite(ServerLink& link, Output& out, const WriteOptions& options);
// Sends the requests in order on one connection and prints each answer. A request
// kRawFromInput stands for the lines of standard input, one request each (empty lines skipped).
// A request without an answer within the time-out is reported and the next one is sent; an answer
// that comes later than that is taken for the next request's.
void runRaw(ServerLink& link, Output& out, const std::vector<std::string>& requests);
void runLatency(ServerLink& link, Output& out, const LatencyOptions& options);

// Polls "DAQ_DATA" (Watch.cpp). `terminal`: stdout is a terminal, so a table is redrawn in
// place instead of written one line per poll.
void runWatch(ServerLink& link, Output& out, const WatchOptions& options, bool terminal);

}  // namespace daqclient
