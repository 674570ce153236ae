// The detection page: scans for images, identifies every candidate port on its own thread, polls
// once a second (at most 25 polls), and lists the device types found for the user to pick.
#pragma once

#include <QTimer>

#include <string>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/wizard/wizard_page.h"

class QGroupBox;
class QLabel;
class QTreeWidget;

class CDetectionPage : public CRavelinPage {
    Q_OBJECT
public:
    explicit CDetectionPage(WizardContext *pContext, QWidget *pParent = nullptr);

    void Activate() override;
    bool Next() override;
    void Cancel() override;
    int nextId() const override;

    // The offer to finish interrupted updates was taken: the run holds those ports only, and Next
    // goes straight to the progress page.
    bool Resuming() const { return m_bResuming; }

    // The polls after which the page stops waiting whatever the state.
    static constexpr int kMaxPolls = 25;

    // The status text exactly as the program words it (CR LF inside), and the list.
    const std::string &StatusText() const { return m_statusText; }
    QTreeWidget *TypeList() const { return m_pList; }
    bool Identifying() const { return m_timer.isActive(); }

    // One poll, as the timer makes it.
    void Poll();
    // The identification thread body; flsh_Identify unless a test or tool sets another.
    void SetIdentifyBody(flsh_DeviceThreadBody pfnBody) { m_pfnIdentify = pfnBody; }

private:
    void SetStatus(const char *pszText);
    void ShowList(bool bShown);
    void FillList();
    void Fail(int nCode);
    bool OfferResume();

    QTimer m_timer;
    int m_nTicks = 0;
    bool m_bOffered = false;
    bool m_bResuming = false;
    flsh_DeviceThreadBody m_pfnIdentify = nullptr;
    std::string m_statusText;
    QGroupBox *m_pGroup;
    QLabel *m_pCaption;
    QTreeWidget *m_pList;
    QLabel *m_pStatus;
    QLabel *m_pHint;
};
