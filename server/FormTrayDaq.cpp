// The server window's DAQ run: building and emptying the IO map, waking the refresh thread,
// and opening and closing the listener with the run.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPointer>

#include "kelvane/IORecords.h"
#include "server/FormTray.h"
#include "server/FormTrayTrace.h"
#include "trace/Trace.h"

namespace daq {

void TfrmDAQTray::SetDAQRun(bool run) {
    guardedStep("SetDAQRun", __LINE__, [&] {
        if (RunMode == rmDisabled || RunMode == rmUncoupled) {
            return;
        }
        core_.setStopping(false);
        if (run) {
            ioMap_.clear();
            addDAQIO_Map(nullptr);
            if (ioMap_.open() == 0) {
                ioMap_.close();
                DAQ_TRACE(kTraceError, "SetDAQRun", kFormTraySource,
                          "TCPIP Server ReadMap fail! : IONum=%d", ioMap_.count());
            }
            cbxIP->setEnabled(false);
            RunMode = rmDaqRunning;
            lbStatus->setText(text(17));
            DaqRunning.store(true);
            core_.setDaqRunning(true);
            core_.setDaqStatus(2);
            BMThread1.wake();
            // open_Server runs the window's events while it waits; the window may go away.
            const QPointer<TfrmDAQTray> self(this);
            open_Server(kOpenTimeoutMs);
            if (self.isNull()) {
                return;
            }
        } else {
            close_Server();
            if (RunMode == rmDaqRunning) {
                RunMode = rmConnected;
            }
            cbxIP->setEnabled(true);
            DaqRunning.store(false);
            core_.setDaqRunning(false);
            ioMap_.clear();
            lbStatus->setText(text(18));
        }
        cbxActive->setEnabled(!run);
    });
}

void TfrmDAQTray::addDAQIO_Map(kelvane::TTreeNode* node) {
    if (ioTree_ != nullptr) {
        for (kelvane::TTreeNode* child = ioTree_->GetFirstChild(node); child != nullptr;
             child = ioTree_->GetNextSibling(child)) {
            const auto* record = kelvane::NodeRecord<kelvane::TIONodeRecord>(*ioTree_, child);
            if (record == nullptr) {
                continue;
            }
            if (record->Kind == kelvane::nkGroup) {
                addDAQIO_Map(child);
            } else if (record->IO != nullptr) {
                ioMap_.add(record->IO);
            }
        }
    }
    DAQ_TRACE(kTraceInfo, "addDAQIO_Map", kFormTraySource, "daqlist map : %d", ioMap_.count());
}

}  // namespace daq
