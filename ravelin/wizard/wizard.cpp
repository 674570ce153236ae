#include "ravelin/wizard/wizard.h"

#include <QAbstractButton>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/wizard/detection_page.h"
#include "ravelin/wizard/developers_page.h"
#include "ravelin/wizard/model_page.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/status_page.h"

CWizard::CWizard(WizardContext *pContext, WizardPageSet pageSet, QWidget *pParent)
    : QWizard(pParent), m_pContext(pContext), m_pageSet(pageSet)
{
    setWindowTitle(QStringLiteral("Ravelin"));
    // One look on every platform; the picture is in each page's own layout, not a watermark.
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage, false);
    setOption(QWizard::HaveFinishButtonOnEarlyPages, true);

    switch (pageSet) {
    case WizardPageSet::Developers:
        m_pDevelopers = new CDevelopersPage(pContext);
        addPage(m_pDevelopers);
        break;
    case WizardPageSet::OnePort:
        break;
    case WizardPageSet::Ordinary:
        m_pDetection = new CDetectionPage(pContext);
        m_pModel = new CModelPage(pContext);
        addPage(m_pDetection);
        addPage(m_pModel);
        break;
    }
    m_pProgress = new CProgressPage(pContext);
    m_pStatus = new CStatusPage(pContext);
    m_nProgressId = addPage(m_pProgress);
    addPage(m_pStatus);

    // QWizard sets its buttons on every page change before it emits this signal; the page's own
    // state is applied after it, so it wins.
    connect(this, &QWizard::currentIdChanged, this, &CWizard::OnPageChanged);
}

CRavelinPage *CWizard::CurrentRavelinPage() const
{
    return qobject_cast<CRavelinPage *>(currentPage());
}

void CWizard::OnPageChanged(int nId)
{
    if (nId < 0) return;
    if (CRavelinPage *pPage = CurrentRavelinPage()) pPage->Activate();
    ApplyButtons();
}

void CWizard::ReactivateCurrentPage()
{
    if (CRavelinPage *pPage = CurrentRavelinPage()) pPage->Activate();
    ApplyButtons();
}

void CWizard::SetButtons(WizardButtons buttons)
{
    m_buttons = buttons;
    ApplyButtons();
}

void CWizard::HideCancel()
{
    m_bCancelHidden = true;
    ApplyButtons();
}

void CWizard::ShowCancel()
{
    m_bCancelHidden = false;
    ApplyButtons();
}

void CWizard::ApplyButtons()
{
    QAbstractButton *pBack = button(QWizard::BackButton);
    QAbstractButton *pNext = button(QWizard::NextButton);
    QAbstractButton *pFinish = button(QWizard::FinishButton);
    QAbstractButton *pCommit = button(QWizard::CommitButton);
    QAbstractButton *pCancel = button(QWizard::CancelButton);

    bool bBack = m_buttons == WizardButtons::BackNext;
    bool bNext = m_buttons == WizardButtons::BackNext || m_buttons == WizardButtons::NextOnly;
    // Back stays in its place, greyed, as on the platform the wizard was made for.
    pBack->setVisible(true);
    pBack->setEnabled(bBack);
    pNext->setVisible(bNext);
    pNext->setEnabled(bNext);
    pFinish->setVisible(!bNext);
    pFinish->setEnabled(m_buttons == WizardButtons::FinishOnly);
    pCommit->setVisible(false);
    pCancel->setVisible(!m_bCancelHidden);
}

bool CWizard::validateCurrentPage()
{
    // QWizard validates the page on Next and on Finish alike; only Next is the page's Next.
    if (m_buttons == WizardButtons::FinishOnly) return true;
    if (m_buttons == WizardButtons::DisabledFinish) return false;
    CRavelinPage *pPage = CurrentRavelinPage();
    if (pPage == nullptr) return true;
    bool bMoveOn = pPage->Next();
    ApplyButtons();
    return bMoveOn;
}

void CWizard::reject()
{
    if (m_bCancelHidden) return;
    // The final status shows the cancellation, and the program's exit code is 1.
    flsh_RunSetError(m_pContext->pRun, flsh_kRunCancelled);
    if (CRavelinPage *pPage = CurrentRavelinPage()) pPage->Cancel();
    QWizard::reject();
}
