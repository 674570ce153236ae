// Page 5: the selected worker sends the country commands while the page waits, one tick at a time,
// for it to be done; then on to the success or the error page. A configuration that has not ended
// within the time limit counts as failed. Cancel is refused while the commands go out: a command
// sequence cut short leaves the modem half set.
//
// A second attempt (Back from the error page) finds the selected worker ended; the page then has a
// fresh worker identify the modem on the same port first, and the time limit counts from its go.
#pragma once

#include "country/wizard/SheetPage.h"

#include <QTimer>

class CConfigingPage : public CThreeLinePage {
public:
    explicit CConfigingPage(CCfgSheet& sheet);

    void OnActivate() override;

    bool Waiting() const { return m_timer.isActive(); }
    bool Reidentifying() const { return m_reidentifying; }

private:
    void OnTick();
    void StartConfiguration();
    void Finish(int pageId);

    QTimer m_timer;
    int m_ticks = 0;
    bool m_reidentifying = false;
};
