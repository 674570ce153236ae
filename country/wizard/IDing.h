// Page 2: the search. Its first activation starts one worker per port (COM1 to COM36) and polls them
// once a tick until all are done or the search time is up; then it lists the modems found (port order)
// or says that none was found. Next hands the worker of the chosen row to the sheet.
#pragma once

#include "country/wizard/SheetPage.h"

#include <QTimer>

class QLabel;
class QTreeWidget;

class CIDing : public CSheetPage {
public:
    explicit CIDing(CCfgSheet& sheet);

    void OnInit() override;
    void OnActivate() override;
    bool validatePage() override;

    QString StatusText() const;
    QTreeWidget* DeviceList() const { return m_list; }
    bool Searching() const { return m_timer.isActive(); }
    // The search has ended without a modem.
    bool NothingFound() const { return m_nothingFound; }
    // Ticks the search has taken so far.
    int Ticks() const { return m_ticks; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void OnTick();
    void ShowDevices();
    void ShowNoDevice();
    void SizeColumns();

    QLabel* m_status;
    QTreeWidget* m_list;
    QTimer m_timer;
    int m_ticks = 0;
    bool m_searchStarted = false;
    bool m_nothingFound = false;
};
