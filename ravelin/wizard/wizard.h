// The wizard sheet: a QWizard captioned "Ravelin" showing one of three page sets. The pages ask for
// one of four button states; the sheet applies it after QWizard has set its own, on every page
// change. While Cancel is hidden the sheet swallows Cancel, Escape and closing the window.
#pragma once

#include <QWizard>

#include "ravelin/wizard/wizard_page.h"

class CDetectionPage;
class CDevelopersPage;
class CModelPage;
class CProgressPage;
class CStatusPage;

enum class WizardPageSet {
    Developers,   // developers, progress, status
    OnePort,      // progress, status
    Ordinary      // detection, model, progress, status
};

enum class WizardButtons {
    BackNext,        // the model page
    NextOnly,        // developers page, detection page once devices are identified
    FinishOnly,      // after a fatal error, or when the run has ended
    DisabledFinish   // no Back, no Next, Finish shown but disabled (work in progress)
};

class CWizard : public QWizard {
    Q_OBJECT
public:
    CWizard(WizardContext *pContext, WizardPageSet pageSet, QWidget *pParent = nullptr);

    void SetButtons(WizardButtons buttons);
    WizardButtons Buttons() const { return m_buttons; }
    void HideCancel();
    void ShowCancel();
    bool CancelHidden() const { return m_bCancelHidden; }

    WizardPageSet PageSet() const { return m_pageSet; }
    CDetectionPage *DetectionPage() const { return m_pDetection; }
    CModelPage *ModelPage() const { return m_pModel; }
    CDevelopersPage *DevelopersPage() const { return m_pDevelopers; }
    CProgressPage *ProgressPage() const { return m_pProgress; }
    CStatusPage *StatusPage() const { return m_pStatus; }
    int ProgressPageId() const { return m_nProgressId; }

    // Re-runs the current page's activation (a page shown again for the next item of its work).
    void ReactivateCurrentPage();

    // Escape, the Cancel button and closing the window all end here.
    void reject() override;
    bool validateCurrentPage() override;

private:
    void OnPageChanged(int nId);
    void ApplyButtons();
    CRavelinPage *CurrentRavelinPage() const;

    WizardContext *m_pContext;
    WizardPageSet m_pageSet;
    WizardButtons m_buttons = WizardButtons::NextOnly;
    bool m_bCancelHidden = false;
    CDetectionPage *m_pDetection = nullptr;
    CModelPage *m_pModel = nullptr;
    CDevelopersPage *m_pDevelopers = nullptr;
    CProgressPage *m_pProgress = nullptr;
    CStatusPage *m_pStatus = nullptr;
    int m_nProgressId = -1;
};
