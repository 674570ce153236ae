#include "ravelin/wizard/progress_page.h"

#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "ravelin/flash/command_line.h"
#include "ravelin/history/hist_resume.h"
#include "ravelin/history/hist_run.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/support/osclock.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"

CProgressPage::CProgressPage(WizardContext *pContext, QWidget *pParent)
    : CRavelinPage(pContext, pParent), m_pfnFlash(flsh_RunProtocol)
{
    setObjectName(QStringLiteral("CProgressPage"));
    auto *pControls = new QWidget(this);
    auto *pLayout = new QVBoxLayout(pControls);
    pLayout->setContentsMargins(0, 0, 0, 0);

    auto *pIntro = new QLabel(QStringLiteral("Your devices are being updated."), pControls);
    pIntro->setWordWrap(true);
    auto *pGroup = new QGroupBox(QStringLiteral("Progress"), pControls);
    auto *pGroupLayout = new QVBoxLayout(pGroup);
    m_pBar = new QProgressBar(pGroup);
    m_pBar->setObjectName(QStringLiteral("progress"));
    m_pBar->setRange(0, 100);
    m_pStatus = new QLabel(pGroup);
    m_pStatus->setObjectName(QStringLiteral("status"));
    m_pStatus->setAlignment(Qt::AlignCenter);
    pGroupLayout->addWidget(m_pBar);
    pGroupLayout->addWidget(m_pStatus);
    auto *pWarning = new QLabel(
        QStringLiteral("Termination of the program during this update may render your devices inoperable."), pControls);
    pWarning->setWordWrap(true);

    pLayout->addWidget(pIntro);
    pLayout->addSpacing(wiz_DuY(this, 8));
    pLayout->addWidget(pGroup);
    pLayout->addSpacing(wiz_DuY(this, 8));
    pLayout->addWidget(pWarning);
    pLayout->addStretch(1);
    wiz_SetPageFrame(this, pControls);

    m_timer.setInterval(static_cast<int>(os_ScaleMs(1000)));
    connect(&m_timer, &QTimer::timeout, this, &CProgressPage::Poll);
}

void CProgressPage::SetStatus(const char *pszText)
{
    m_statusText = pszText;
    m_pStatus->setText(QString::fromLocal8Bit(pszText));
}

void CProgressPage::Activate()
{
    CWizard *pSheet = Sheet();
    pSheet->SetButtons(WizardButtons::DisabledFinish);
    // Stopping a flash half-way can leave a device that no longer starts: no Cancel from here on.
    pSheet->HideCancel();
    m_timer.start();
    m_nLowest = 100;
    m_pBar->setValue(0);
    SetStatus("Sorting File");
    const CommandLineSettings *pSettings = m_pContext->pSettings;
    m_pContext->bUpdatesStarted = true;
    flsh_RunStartUpdates(m_pContext->pRun, pSettings->nBootCode, pSettings->bFullFlash, pSettings->nAfterFlashCheck,
                         pSettings->bRestoreDefaults, m_pfnFlash);
    if (m_pContext->pHistory != nullptr) {
        hist_RunBegin(m_pContext->pHistory, m_pContext->pRunRecords, m_pContext->pRun);
        // An update the detection page's offer resumes names the record it finishes.
        for (std::size_t i = 0; i < m_pContext->resumeOf.size(); ++i)
            if (HistRunRecord *pRecord = hist_RunRecordOf(m_pContext->pRunRecords, static_cast<int>(i)))
                hist_NoteResumeOf(m_pContext->pHistory, &pRecord->record, m_pContext->resumeOf[i]);
    }
}

void CProgressPage::Record()
{
    if (m_pContext->pHistory != nullptr) hist_RunPoll(m_pContext->pHistory, m_pContext->pRunRecords, m_pContext->pRun);
}

void CProgressPage::Poll()
{
    char szText[flsh_kStatusTextLen] = "";
    std::int32_t nLowest = 100;
    bool bDone = flsh_RunPoll(m_pContext->pRun, &nLowest, szText);
    Record();
    if (bDone) {
        m_timer.stop();
        SetStatus("Programming Complete");
        m_pBar->setValue(100);
        Sheet()->SetButtons(m_pContext->pSettings->bStatusPage ? WizardButtons::NextOnly : WizardButtons::FinishOnly);
        return;
    }
    m_nLowest = nLowest;
    SetStatus(szText);
    m_pBar->setValue(nLowest < 0 ? 0 : nLowest > 100 ? 100 : nLowest);
}

void CProgressPage::Cancel()
{
    m_timer.stop();
    flsh_RunCancelAndWait(m_pContext->pRun);
    Record();
}
