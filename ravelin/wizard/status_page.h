// The status page: every selected device with its port, model and result, and the count of the
// devices updated successfully; a line when the update history could not be written, and a button
// that saves the results as a CSV report.
#pragma once

#include <string>

#include "ravelin/wizard/wizard_page.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class CStatusPage : public CRavelinPage {
    Q_OBJECT
public:
    explicit CStatusPage(WizardContext *pContext, QWidget *pParent = nullptr);

    void Activate() override;

    QTreeWidget *ResultList() const { return m_pList; }
    const std::string &SummaryText() const { return m_summary; }
    // The history's warning as the page shows it ("" while the history works).
    const std::string &HistoryText() const { return m_historyText; }
    QPushButton *SaveReportButton() const { return m_pSaveReport; }

    // "Save report...": asks for a file and writes the report; a file that cannot be written is said
    // in a message box.
    void SaveReport();

private:
    std::string m_summary;
    std::string m_historyText;
    QLabel *m_pSummary;
    QLabel *m_pHistory;
    QTreeWidget *m_pList;
    QPushButton *m_pSaveReport;
};
