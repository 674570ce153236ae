// The status page: every selected device with its port, model and result, and the count of the
// devices updated successfully.
#pragma once

#include <string>

#include "ravelin/wizard/wizard_page.h"

class QLabel;
class QTreeWidget;

class CStatusPage : public CRavelinPage {
    Q_OBJECT
public:
    explicit CStatusPage(WizardContext *pContext, QWidget *pParent = nullptr);

    void Activate() override;

    QTreeWidget *ResultList() const { return m_pList; }
    const std::string &SummaryText() const { return m_summary; }

private:
    std::string m_summary;
    QLabel *m_pSummary;
    QTreeWidget *m_pList;
};
