// The model page: shown once for each device type picked on the detection page, in the order of
// the run's model list. The user picks the ports of that type and one image for them.
#pragma once

#include <string>

#include "ravelin/catalogue/devicetype.h"
#include "ravelin/wizard/wizard_page.h"

class QComboBox;
class QGroupBox;
class QLabel;
class QTreeWidget;
struct ImageEntry;
struct RunDevice;

// The texts of the model page's rows.
// Version column: the version's first part without its one trailing blank, followed by the second
// and third parts when the second is not empty.
std::string wiz_DeviceVersionText(const RunDevice &device);
// Image row: the country's display name (cut to 10 characters and ".." when longer than 12), the
// version, and the two further name parts when the first is not empty.
std::string wiz_ImageRowText(const ImageEntry &image);

class CModelPage : public CRavelinPage {
    Q_OBJECT
public:
    explicit CModelPage(WizardContext *pContext, QWidget *pParent = nullptr);

    void Activate() override;
    bool Next() override;
    void Cancel() override;

    const DeviceType &CurrentModel() const { return m_current; }
    QTreeWidget *PortList() const { return m_pPorts; }
    QComboBox *ImageList() const { return m_pImages; }
    QGroupBox *ModelGroup() const { return m_pGroup; }

private:
    void Fail(int nCode);

    DeviceType m_current;
    int m_nCurrent = -1;   // index of the current model in the run's model list
    QGroupBox *m_pGroup;
    QTreeWidget *m_pPorts;
    QComboBox *m_pImages;
    QLabel *m_pStatus;
};
