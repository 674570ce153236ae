// What every page of the update wizard shares: the context it works on (the run, the command line,
// the message boxes) and the three moments the sheet tells it about.
#pragma once

#include <QWizardPage>

#include <cstdint>
#include <vector>

struct DeviceType;
class CMessageBoxes;
class CWizard;
struct CommandLineSettings;
struct UpdateRun;
struct HistRecorder;
struct HistRunRecords;

// Owned by the application object; the pages only point at it.
struct WizardContext {
    UpdateRun *pRun = nullptr;
    CommandLineSettings *pSettings = nullptr;
    CMessageBoxes *pBoxes = nullptr;
    // Which device threads the pages started: the end waits for them, and judges the updates.
    bool bIdentificationStarted = false;
    bool bUpdatesStarted = false;
    // The wizard finishes interrupted updates (the detection page's offer was taken): for each of
    // the run's devices, the history record its update finishes (0: none).
    std::vector<std::int64_t> resumeOf;
    // The update history: the progress page records the run's updates, the status page reports them.
    HistRecorder *pHistory = nullptr;
    HistRunRecords *pRunRecords = nullptr;
};

class CRavelinPage : public QWizardPage {
    Q_OBJECT
public:
    CRavelinPage(WizardContext *pContext, QWidget *pParent = nullptr);

    // The page has become the current one, going forward or back.
    virtual void Activate() {}
    // The user asked for Next: true moves on, false keeps the page.
    virtual bool Next() { return true; }
    // The sheet accepted Cancel (Cancel was not hidden): stop what the page started, release.
    virtual void Cancel() {}

protected:
    CWizard *Sheet() const;
    void ShowMessage(const char *pszText);
    WizardContext *m_pContext;
};

// A model's name as the catalogue spells it ("OctaA"; the device type keeps it upper-cased).
const char *wiz_ModelName(const DeviceType &type);
