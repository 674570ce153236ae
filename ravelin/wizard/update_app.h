// The application object: start-up checks, command line, log and ports, the wizard sheet, and the
// exit code. The program is the wizard; no main window is ever shown.
//
//   CUpdateApp app(&boxes);
//   int nExit = app.Start(argc, argv);      // -1: go on; otherwise end with this code
//   std::unique_ptr<CWizard> sheet = app.CreateWizard();
//   sheet->exec();
//   return app.End();                        // the run's error code
#pragma once

#include <memory>

#include "ravelin/flash/command_line.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/history/hist_run.h"
#include "ravelin/wizard/wizard.h"

// The exit code of a start-up that stopped at the catalogue check (Models.ini or Locks.ini missing or
// of the wrong version). The run's own codes are 0-9, 100 and 101; 2 is shared with "no images",
// both meaning nothing was updated because a file the program needs is missing.
constexpr int wiz_kCatalogueFailureExit = 2;
// The exit code of a run without an overall error in which a selected device was not updated (the
// same code ravelin-cli run ends with then).
constexpr int wiz_kDeviceFailedExit = 10;

class CUpdateApp {
public:
    explicit CUpdateApp(CMessageBoxes *pBoxes);
    ~CUpdateApp();
    CUpdateApp(const CUpdateApp &) = delete;
    CUpdateApp &operator=(const CUpdateApp &) = delete;

    // Profile cache, run, command line, catalogue, log and ports. Returns -1 when the wizard is to
    // be shown, else the exit code (a catalogue failure, after its message box).
    int Start(int argc, const char *const *argv);
    // The page set the command line asks for.
    WizardPageSet PageSet() const;
    std::unique_ptr<CWizard> CreateWizard();
    // After the wizard has closed: waits for every device thread the run started (identification
    // threads do not stop on Cancel, and those the detection page dropped at its time-out still
    // run) so that every port is released and nothing reads the catalogue any more, then frees it
    // (left to a thread that has not ended within the bound), closes the log.
    // Returns the exit code: the run's error code; wiz_kDeviceFailedExit when that is 0 but a
    // selected device has no successful result.
    int End();

    UpdateRun &Run() { return m_run; }
    CommandLineSettings &Settings() { return m_settings; }
    WizardContext &Context() { return m_context; }

private:
    bool AddPorts();

    UpdateRun m_run;
    // The history (history.db beside the program, or $RAVELIN_HISTORY), opened at the first update.
    HistRecorder *m_pHistory = nullptr;
    HistRunRecords m_runRecords;
    CommandLineSettings m_settings;
    WizardContext m_context;
    bool m_bCatalogueLoaded = false;
    bool m_bRunReady = false;
    bool m_bThreadsOutlived = false;   // a device thread still ran when End gave up waiting
};
