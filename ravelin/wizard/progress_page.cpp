#include "ravelin/wizard/progress_page.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QSizePolicy>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ravelin/flash/command_line.h"
#include "ravelin/history/hist_resume.h"
#include "ravelin/history/hist_run.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/support/osclock.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"

namespace {

enum DeviceColumn { kPortColumn, kModelColumn, kStatusColumn, kPercentColumn, kResultColumn, kColumns };

} // namespace

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
    m_pDevices = new QTreeWidget(pGroup);
    m_pDevices->setObjectName(QStringLiteral("devices"));
    m_pDevices->setColumnCount(kColumns);
    m_pDevices->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Model"), QStringLiteral("Status"),
                                 QStringLiteral("%"), QStringLiteral("Result")});
    m_pDevices->setRootIsDecorated(false);
    m_pDevices->setSelectionMode(QAbstractItemView::NoSelection);
    m_pDevices->setFocusPolicy(Qt::NoFocus);
    // Each column as wide as its longest text: with 36 devices and long result texts the list
    // scrolls rather than cutting a text.
    m_pDevices->header()->setStretchLastSection(false);
    m_pDevices->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_pDevices->headerItem()->setTextAlignment(kPercentColumn, Qt::AlignRight | Qt::AlignVCenter);
    // The list takes the height the page has left (the page is as tall as the others); it never asks
    // for more, which would make this page set's sheet taller than the others.
    m_pDevices->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Ignored);
    m_pDevices->setMinimumHeight(wiz_DuY(this, 40));
    pGroupLayout->addWidget(m_pBar);
    pGroupLayout->addWidget(m_pStatus);
    pGroupLayout->addWidget(m_pDevices, 1);
    auto *pWarning = new QLabel(
        QStringLiteral("Termination of the program during this update may render your devices inoperable."), pControls);
    pWarning->setWordWrap(true);

    pLayout->addWidget(pIntro);
    pLayout->addSpacing(wiz_DuY(this, 8));
    pLayout->addWidget(pGroup, 1);
    pLayout->addSpacing(wiz_DuY(this, 8));
    pLayout->addWidget(pWarning);
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
    if (m_pContext->pHistory != nullptr) {
        hist_RunBegin(m_pContext->pHistory, m_pContext->pRunRecords, m_pContext->pRun);
        // An update the detection page's offer resumes names the record it finishes.
        for (std::size_t i = 0; i < m_pContext->resumeOf.size(); ++i)
            if (HistRunRecord *pRecord = hist_RunRecordOf(m_pContext->pRunRecords, static_cast<int>(i)))
                hist_NoteResumeOf(m_pContext->pHistory, &pRecord->record, m_pContext->resumeOf[i]);
    }
    flsh_RunStartUpdates(m_pContext->pRun, pSettings->nBootCode, pSettings->bFullFlash, pSettings->nAfterFlashCheck,
                         pSettings->bRestoreDefaults, m_pfnFlash);
    Record();
    // After the start: a device the image check refused shows its result at once.
    FillDeviceList();
}

void CProgressPage::Record()
{
    if (m_pContext->pHistory != nullptr) hist_RunPoll(m_pContext->pHistory, m_pContext->pRunRecords, m_pContext->pRun);
}

void CProgressPage::FillDeviceList()
{
    UpdateRun *pRun = m_pContext->pRun;
    m_pDevices->clear();
    m_rowDevices.clear();
    for (std::size_t i = 0; i < pRun->devices.size(); ++i) {
        const RunDevice &device = *pRun->devices[i];
        if (!device.bSelected) continue;
        auto *pItem = new QTreeWidgetItem(m_pDevices);
        pItem->setText(kPortColumn, QString::fromLocal8Bit(flsh_PortDisplayName(device.pUpdate)));
        pItem->setText(kModelColumn, QString::fromLocal8Bit(wiz_ModelName(device.type)));
        pItem->setTextAlignment(kPercentColumn, Qt::AlignRight | Qt::AlignVCenter);
        m_rowDevices.push_back(static_cast<int>(i));
    }
    UpdateDeviceList();
}

void CProgressPage::UpdateDeviceList()
{
    UpdateRun *pRun = m_pContext->pRun;
    for (std::size_t nRow = 0; nRow < m_rowDevices.size(); ++nRow) {
        int nDevice = m_rowDevices[nRow];
        QTreeWidgetItem *pItem = m_pDevices->topLevelItem(static_cast<int>(nRow));
        char szText[flsh_kStatusTextLen] = "";
        std::int32_t nValue = 0;
        flsh_RunDeviceProgress(pRun, nDevice, szText, &nValue);
        int nResult = flsh_RunResult(pRun, nDevice);
        // A device updated successfully is done, whatever its last step reported as its value.
        int nPercent = nResult == FR_SUCCESSFUL ? 100 : nValue < 0 ? 0 : nValue > 100 ? 100 : nValue;
        pItem->setText(kStatusColumn, QString::fromLocal8Bit(szText).trimmed());
        pItem->setText(kPercentColumn, QStringLiteral("%1 %").arg(nPercent));
        pItem->setText(kResultColumn,
                       nResult == FR_NONE ? QString() : QString::fromLocal8Bit(flsh_RunResultText(pRun, nDevice)));
    }
}

void CProgressPage::Poll()
{
    char szText[flsh_kStatusTextLen] = "";
    std::int32_t nLowest = 100;
    bool bDone = flsh_RunPoll(m_pContext->pRun, &nLowest, szText);
    Record();
    UpdateDeviceList();
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
