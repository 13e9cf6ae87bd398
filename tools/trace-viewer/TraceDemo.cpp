// trace-demo: sends a handful of messages like those of the DAQ server, so the trace viewer can be
// tried without the host. Uses the same socket path rule as the server (KELVANE_TRACE_SOCKET).
#include <cstdio>

#include "trace/Trace.h"
#include "trace/TraceTransport.h"

int main() {
    DAQ_TRACE(daq::kTraceInfo, "setMySystemVst", "FormTray",
              "[TCP_SERVER] Set MySysytemVst Pointer : %x", 0x5e2a40u);
    DAQ_TRACE(daq::kTraceError, "open_Server", "FormTray", "TCP/IP Server : active error [%s]",
              "Could not bind socket. Address and port are already in use.");
    DAQ_TRACE(daq::kTraceError, "SetDAQRun", "FormTray", "TCPIP Server ReadMap fail! : IONum=%d",
              0);
    DAQ_TRACE(daq::kTraceInfo, "getClientIndex", "FormTray", "DAQ Server getClientIndex : %d/%d", 0,
              2);
    DAQ_TRACE(daq::kTraceInfo, "IdTCPServer1Execute", "FormTray",
              "[TCP_SERVER:FormTray]ps_id : DAQPERMISSION");
    DAQ_TRACE(daq::kTraceInfo, "setParamWrite", "FormTray",
              "Prev Item Val : %d, Present Item Val : %d", 1, 3);
    DAQ_TRACE(daq::kTraceError, "IdTCPServer1Execute", "FormTray", "TCP Server Error : %s, %s",
              "PARAMETERWRITE", "Access violation | write of address 0000000000000010");
    daq::trace(daq::kTraceInfo, "A message without a location: %s", "no suffix, just the text");

    std::fprintf(stderr, "trace-demo: sent 8 messages to %s (dropped if no viewer listens)\n",
                 daq::traceSocketPath().c_str());
    return 0;
}
