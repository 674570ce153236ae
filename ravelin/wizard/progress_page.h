// The progress page: starts the update of every selected device when shown, and follows the
// slowest running device once a second until every device has a result. Below the bar, a list
// shows each device being updated: port, model, status text, percentage and, once it has one, its
// result, refreshed by the same poll.
#pragma once

#include <QTimer>

#include <cstdint>
#include <string>
#include <vector>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/wizard/wizard_page.h"

class QLabel;
class QProgressBar;
class QTreeWidget;

class CProgressPage : public CRavelinPage {
    Q_OBJECT
public:
    explicit CProgressPage(WizardContext *pContext, QWidget *pParent = nullptr);

    void Activate() override;
    void Cancel() override;

    // The flash thread body; flsh_RunProtocol unless a test or tool sets another.
    void SetFlashBody(flsh_DeviceThreadBody pfnBody) { m_pfnFlash = pfnBody; }

    const std::string &StatusText() const { return m_statusText; }
    QProgressBar *Bar() const { return m_pBar; }
    // One row per device being updated, in run order.
    QTreeWidget *DeviceList() const { return m_pDevices; }
    bool Following() const { return m_timer.isActive(); }

    // One poll, as the timer makes it.
    void Poll();

private:
    void SetStatus(const char *pszText);
    // One row per selected device (the run's devices do not change while the updates run).
    void FillDeviceList();
    void UpdateDeviceList();
    // The history's records follow the run: progress, and the end of each device that has its result.
    void Record();

    QTimer m_timer;
    std::int32_t m_nLowest = 100;
    std::string m_statusText;
    flsh_DeviceThreadBody m_pfnFlash;
    QProgressBar *m_pBar;
    QLabel *m_pStatus;
    QTreeWidget *m_pDevices;
    std::vector<int> m_rowDevices;   // the run's index of each row's device
};
