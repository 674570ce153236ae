#include "ravelin/wizard/status_page.h"

#include <QDateTime>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cctype>
#include <cstdio>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/history/hist_run.h"
#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/report_file.h"
#include "ravelin/wizard/list_columns.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"

CStatusPage::CStatusPage(WizardContext *pContext, QWidget *pParent) : CRavelinPage(pContext, pParent)
{
    setObjectName(QStringLiteral("CStatusPage"));
    auto *pControls = new QWidget(this);
    auto *pLayout = new QVBoxLayout(pControls);
    pLayout->setContentsMargins(0, 0, 0, 0);
    auto *pGroup = new QGroupBox(QStringLiteral("Results"), pControls);
    auto *pGroupLayout = new QVBoxLayout(pGroup);
    m_pSummary = new QLabel(pGroup);
    m_pSummary->setObjectName(QStringLiteral("summary"));
    m_pSummary->setWordWrap(true);
    m_pList = new QTreeWidget(pGroup);
    m_pList->setObjectName(QStringLiteral("results"));
    m_pList->setColumnCount(3);
    m_pList->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Model"), QStringLiteral("Status")});
    m_pList->setRootIsDecorated(false);
    m_pList->setSelectionMode(QAbstractItemView::NoSelection);
    m_pHistory = new QLabel(pGroup);
    m_pHistory->setObjectName(QStringLiteral("history"));
    m_pHistory->setWordWrap(true);
    m_pHistory->hide();
    m_pSaveReport = new QPushButton(QStringLiteral("Save report..."), pControls);
    m_pSaveReport->setObjectName(QStringLiteral("saveReport"));
    m_pSaveReport->setAutoDefault(false);
    connect(m_pSaveReport, &QPushButton::clicked, this, &CStatusPage::SaveReport);
    auto *pButtons = new QHBoxLayout;
    pButtons->addStretch(1);
    pButtons->addWidget(m_pSaveReport);
    pGroupLayout->addWidget(m_pSummary);
    pGroupLayout->addWidget(m_pList, 1);
    pGroupLayout->addWidget(m_pHistory);
    pLayout->addWidget(pGroup, 1);
    pLayout->addLayout(pButtons);
    wiz_SetPageFrame(this, pControls);
}

void CStatusPage::Activate()
{
    Sheet()->SetButtons(WizardButtons::FinishOnly);
    UpdateRun *pRun = m_pContext->pRun;
    m_pList->clear();
    // Wider together than the list: the list scrolls sideways rather than cutting the result text.
    wiz_SetColumnWidths(m_pList, [](int nWidth) { return QList<int>{nWidth / 4, nWidth * 3 / 8, nWidth * 3 / 4}; });

    int nRows = 0;
    int nSuccessful = 0;
    for (std::size_t i = 0; i < pRun->devices.size(); ++i) {
        const RunDevice &device = *pRun->devices[i];
        if (!device.bSelected) continue;
        auto *pItem = new QTreeWidgetItem(m_pList);
        pItem->setText(0, QString::fromLocal8Bit(flsh_PortDisplayName(device.pUpdate)));
        pItem->setText(1, QString::fromLocal8Bit(wiz_ModelName(device.type)));
        pItem->setText(2, QString::fromLocal8Bit(flsh_RunResultText(pRun, static_cast<int>(i))));
        ++nRows;
        if (flsh_RunResult(pRun, static_cast<int>(i)) == 0) ++nSuccessful;
    }
    char szSummary[96];
    std::snprintf(szSummary, sizeof szSummary, "%d of %d devices were updated successfully", nSuccessful, nRows);
    m_summary = szSummary;
    m_pSummary->setText(QString::fromLocal8Bit(szSummary));

    m_historyText.clear();
    if (m_pContext->pHistory != nullptr) {
        char szWarning[700];
        hist_RecorderWarning(m_pContext->pHistory, szWarning, sizeof szWarning);
        if (szWarning[0] != '\0') {
            m_historyText = szWarning;
            m_historyText[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(m_historyText[0])));
            m_historyText += ".";
        }
    }
    m_pHistory->setText(QString::fromLocal8Bit(m_historyText.c_str()));
    m_pHistory->setVisible(!m_historyText.empty());
}

void CStatusPage::SaveReport()
{
    std::string suggested =
        "ravelin-report-" + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString() + ".csv";
    std::string path = m_pContext->pBoxes->AskSaveFile(this, "Save report", suggested.c_str());
    if (path.empty()) return;
    static const HistRunRecords kNoRecords;
    const HistRunRecords *pRecords = m_pContext->pRunRecords != nullptr ? m_pContext->pRunRecords : &kNoRecords;
    std::string error;
    if (!wiz_WriteReport(path.c_str(), m_pContext->pRun, pRecords, &error)) {
        std::string text = "The report cannot be written to " + path + ": " + error + ".";
        ShowMessage(text.c_str());
    }
}
