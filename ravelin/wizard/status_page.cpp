#include "ravelin/wizard/status_page.h"

#include <QGroupBox>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cstdio>

#include "ravelin/flash/flashinfo.h"
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
    pGroupLayout->addWidget(m_pSummary);
    pGroupLayout->addWidget(m_pList, 1);
    pLayout->addWidget(pGroup, 1);
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
}
