// The developers page: instead of identification, the user names the image, the ports, the device
// type and the speed; the page remembers them in Flash.ini.
#pragma once

#include <string>

#include "ravelin/wizard/wizard_page.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class CDevelopersPage : public CRavelinPage {
    Q_OBJECT
public:
    explicit CDevelopersPage(WizardContext *pContext, QWidget *pParent = nullptr);

    void Activate() override;
    bool Next() override;

    QLineEdit *HexFileEdit() const { return m_pHexFile; }
    QCheckBox *BootCodeBox() const { return m_pBootCode; }
    QCheckBox *CombinedBox() const { return m_pCombined; }
    QListWidget *PortList() const { return m_pPorts; }
    QComboBox *DeviceTypeList() const { return m_pDeviceType; }
    QComboBox *SpeedList() const { return m_pSpeed; }
    QLabel *Instructions() const { return m_pInstructions; }

private:
    void Browse();
    // Reads the Lucent/Agere flash facts of these devices, each on its own thread, keeping the
    // window responsive meanwhile.
    void QueryLucentDevices(const std::vector<int> &devices);

    std::string m_iniPath;
    QLabel *m_pInstructions;
    QLineEdit *m_pHexFile;
    QPushButton *m_pBrowse;
    QCheckBox *m_pBootCode;
    QCheckBox *m_pCombined;
    QListWidget *m_pPorts;
    QComboBox *m_pDeviceType;
    QComboBox *m_pSpeed;
};
