#include "ravelin/wizard/detection_page.h"

#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ravelin/flash/command_line.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/history/hist_resume.h"
#include "ravelin/support/log.h"
#include "ravelin/support/osclock.h"
#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/list_columns.h"
#include "ravelin/wizard/progress_page.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"

CDetectionPage::CDetectionPage(WizardContext *pContext, QWidget *pParent) : CRavelinPage(pContext, pParent)
{
    setObjectName(QStringLiteral("CDetectionPage"));
    auto *pControls = new QWidget(this);
    auto *pLayout = new QVBoxLayout(pControls);
    pLayout->setContentsMargins(0, 0, 0, 0);

    m_pGroup = new QGroupBox(QStringLiteral("Devices"), pControls);
    auto *pGroupLayout = new QVBoxLayout(m_pGroup);
    m_pCaption = new QLabel(QStringLiteral("&Select the device type to flash:"), m_pGroup);
    m_pList = new QTreeWidget(m_pGroup);
    m_pList->setObjectName(QStringLiteral("deviceTypes"));
    m_pList->setColumnCount(2);
    m_pList->setHeaderLabels({QStringLiteral("Model"), QStringLiteral("#Ports")});
    m_pList->setRootIsDecorated(false);
    m_pList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pList->setMinimumHeight(wiz_DuY(this, 60));
    m_pCaption->setBuddy(m_pList);
    pGroupLayout->addWidget(m_pCaption);
    pGroupLayout->addWidget(m_pList, 1);

    m_pStatus = new QLabel(pControls);
    m_pStatus->setObjectName(QStringLiteral("status"));
    m_pStatus->setWordWrap(true);
    m_pStatus->setAlignment(Qt::AlignCenter);
    m_pHint = new QLabel(QStringLiteral("Click 'Next' to continue."), pControls);

    pLayout->addWidget(m_pGroup, 1);
    pLayout->addWidget(m_pStatus);
    pLayout->addWidget(m_pHint);
    wiz_SetPageFrame(this, pControls);
    ShowList(false);

    m_timer.setInterval(static_cast<int>(os_ScaleMs(1000)));
    connect(&m_timer, &QTimer::timeout, this, &CDetectionPage::Poll);
}

void CDetectionPage::SetStatus(const char *pszText)
{
    m_statusText = pszText;
    m_pStatus->setText(QString::fromLocal8Bit(wiz_DisplayText(pszText).c_str()));
}

void CDetectionPage::ShowList(bool bShown)
{
    m_pCaption->setVisible(bShown);
    m_pList->setVisible(bShown);
    m_pHint->setVisible(bShown);
}

void CDetectionPage::Activate()
{
    UpdateRun *pRun = m_pContext->pRun;
    if (!pRun->images.empty()) {
        // Back from the model page: the devices are known, only the choices start again.
        flsh_RunClearChoices(pRun);
        Sheet()->SetButtons(WizardButtons::NextOnly);
        return;
    }
    Sheet()->SetButtons(WizardButtons::DisabledFinish);
    // Before anything else: a device waiting in its flash loader answers no identification.
    if (!m_bOffered) {
        m_bOffered = true;
        if (OfferResume()) return;
    }
    if (flsh_RunScanImages(pRun, m_pContext->pSettings->nBootCode) == 0) {
        Fail(flsh_kRunNoHexFiles);
        return;
    }
    SetStatus("Identifying Devices\r\nThis may take up to 20 seconds");
    m_nTicks = 0;
    m_timer.start();
    m_pContext->bIdentificationStarted = true;
    if (m_pfnIdentify != nullptr) {
        flsh_RunStartIdentificationWith(pRun, m_pfnIdentify);
    } else {
        flsh_RunStartIdentification(pRun);
    }
}

void CDetectionPage::Poll()
{
    UpdateRun *pRun = m_pContext->pRun;
    ++m_nTicks;
    if (m_nTicks <= kMaxPolls && !flsh_RunAllIdentified(pRun)) return;
    m_timer.stop();
    bool bTimedOut = m_nTicks > kMaxPolls;

    // Devices still identifying are taken out here; the run frees them when their threads end.
    if (flsh_RunPostProcess(pRun, m_pContext->pSettings->bDetection) > 0) {
        flsh_RunBuildModelList(pRun);
        char szDropped[1024] = "";
        if (flsh_RunDropModelsWithoutImages(pRun, szDropped, sizeof szDropped) > 0) {
            char szMessage[1200] = "";
            flsh_NoHexFilesMessage(szDropped, szMessage, sizeof szMessage);
            ShowMessage(szMessage);
        }
    }
    if (pRun->models.empty()) {
        Fail(bTimedOut ? flsh_kRunIdentifyTimeout : flsh_kRunNoDevices);
        return;
    }
    FillList();
    ShowList(true);
    SetStatus("Devices have been identified.");
    m_pList->setFocus();
    Sheet()->SetButtons(WizardButtons::NextOnly);
}

void CDetectionPage::FillList()
{
    UpdateRun *pRun = m_pContext->pRun;
    m_pList->clear();
    wiz_SetColumnWidths(m_pList, [](int nWidth) { return QList<int>{nWidth * 3 / 4, nWidth / 4 - 4}; });
    for (std::size_t i = 0; i < pRun->models.size(); ++i) {
        const DeviceType &model = pRun->models[i];
        auto *pItem = new QTreeWidgetItem(m_pList);
        pItem->setText(0, QString::fromLocal8Bit(wiz_ModelName(model)));
        pItem->setText(1, QString::number(model.nCount));
        pItem->setData(0, Qt::UserRole, static_cast<int>(i));
    }
}

void CDetectionPage::Fail(int nCode)
{
    SetStatus(flsh_RunErrorMessage(m_pContext->pRun, nCode));
    m_pList->clear();
    CWizard *pSheet = Sheet();
    pSheet->HideCancel();
    pSheet->SetButtons(WizardButtons::FinishOnly);
}

bool CDetectionPage::OfferResume()
{
    UpdateRun *pRun = m_pContext->pRun;
    std::vector<std::string> ports, paths;
    for (const auto &pDevice : pRun->devices) {
        ports.emplace_back(flsh_PortDisplayName(pDevice->pUpdate));
        paths.emplace_back(pDevice->pUpdate->szPortPath);
    }
    std::vector<HistRecord> records;
    std::string error;
    if (!hist_FindInterrupted(nullptr, &ports, &records, &error)) {
        LOG_WRITE("wizard", "the history cannot be read: %s", error.c_str());
        return false;
    }
    if (records.empty()) return false;
    std::string text = records.size() == 1 ? "An update was interrupted:\r\n" : "Updates were interrupted:\r\n";
    for (const HistRecord &record : records) {
        char szNotice[1024];
        hist_InterruptedNotice(&record, szNotice, sizeof szNotice);
        text += "\r\n";
        text += szNotice;
        text += "\r\n";
    }
    text += records.size() == 1 ? "\r\nFinish this update first, with the same image?"
                                : "\r\nFinish these updates first, with the same images?";
    if (!m_pContext->pBoxes->Ask(this, text.c_str())) return false;

    // Those ports only, each as the one-port page set has it: not identified, the image, model and
    // speed of its record.
    while (!pRun->devices.empty()) flsh_RunRemoveDevice(pRun, static_cast<int>(pRun->devices.size()) - 1);
    m_pContext->resumeOf.clear();
    for (const HistRecord &record : records) {
        std::string path;
        for (std::size_t i = 0; i < ports.size(); ++i)
            if (os_CompareNoCase(ports[i].c_str(), record.szPort) == 0) path = paths[i];
        int nDevice = hist_AddResumeDevice(pRun, &record, path.c_str());
        if (nDevice < 0) {
            LOG_WRITE("wizard", "%s cannot be resumed: model %s", record.szPort, record.szModel);
            continue;
        }
        m_pContext->resumeOf.resize(static_cast<std::size_t>(nDevice) + 1, 0);
        m_pContext->resumeOf[static_cast<std::size_t>(nDevice)] = record.nId;
    }
    if (pRun->devices.empty()) {
        Fail(flsh_kRunNoDevices);
        return true;
    }
    // The devices wait in their loaders: defaults were restored before they got there.
    m_pContext->pSettings->bRestoreDefaults = 0;
    Sheet()->ProgressPage()->SetFlashBody(hist_ResumeFlash);
    m_bResuming = true;
    SetStatus("Finishing the interrupted updates");
    Sheet()->SetButtons(WizardButtons::NextOnly);
    // Not from inside the page change that activated this page.
    QMetaObject::invokeMethod(Sheet(), "next", Qt::QueuedConnection);
    return true;
}

int CDetectionPage::nextId() const
{
    if (m_bResuming) return Sheet()->ProgressPageId();
    return CRavelinPage::nextId();
}

bool CDetectionPage::Next()
{
    if (m_bResuming) return true;
    QList<QTreeWidgetItem *> picked = m_pList->selectedItems();
    if (picked.isEmpty()) {
        ShowMessage("ERROR: You must select atleast one type of device to update.");
        return false;
    }
    UpdateRun *pRun = m_pContext->pRun;
    for (QTreeWidgetItem *pItem : picked) {
        int nModel = pItem->data(0, Qt::UserRole).toInt();
        if (nModel >= 0 && nModel < static_cast<int>(pRun->models.size())) pRun->models[nModel].bHasImage = true;
    }
    flsh_RunApplyChoices(pRun);
    return true;
}

void CDetectionPage::Cancel()
{
    // Identification does not read the flag: its threads end on their own, and the application
    // waits for them before it ends.
    flsh_SetCancel();
    m_timer.stop();
}
