#include "ravelin/wizard/model_page.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "ravelin/flash/flashinfo.h"
#include "ravelin/wizard/list_columns.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"

namespace {

std::string firstPart(const FirmwareVersion &version)
{
    char szText[fwv_kTextLen];
    fwv_ShownText(&version, szText, sizeof szText);
    return szText;
}

bool fitsModel(const ImageEntry &image, const DeviceType &model)
{
    return cat_ImageFits(image.type, image.version.nMajor, model);
}

} // namespace

std::string wiz_DeviceVersionText(const RunDevice &device)
{
    std::string text = firstPart(device.version);
    if (device.szVersionPart2[0] == '\0') return text;
    text += "  ";
    text += device.szVersionPart2;
    // The third part keeps the "-" it was cut at (suffix ABC-DEF gives ABC and -DEF); joining
    // with another "-" would show ABC--DEF, which the device never reported.
    if (device.szVersionPart3[0] != '-') text += '-';
    text += device.szVersionPart3;
    return text;
}

std::string wiz_ImageRowText(const ImageEntry &image)
{
    std::string country = image.country.DisplayName();
    if (image.szPart1[0] == '\0') return country + "   " + firstPart(image.version);
    if (country.size() > 12) country = country.substr(0, 10) + "..";
    return country + "   " + firstPart(image.version) + "  " + image.szPart1 + "-" + image.szPart2;
}

CModelPage::CModelPage(WizardContext *pContext, QWidget *pParent) : CRavelinPage(pContext, pParent)
{
    setObjectName(QStringLiteral("CModelPage"));
    auto *pControls = new QWidget(this);
    auto *pLayout = new QVBoxLayout(pControls);
    pLayout->setContentsMargins(0, 0, 0, 0);

    m_pGroup = new QGroupBox(QStringLiteral("Model"), pControls);
    auto *pGroupLayout = new QVBoxLayout(m_pGroup);
    auto *pPortsCaption = new QLabel(QStringLiteral("&Select the ports and hex file to update:"), m_pGroup);
    m_pPorts = new QTreeWidget(m_pGroup);
    m_pPorts->setObjectName(QStringLiteral("ports"));
    m_pPorts->setColumnCount(3);
    m_pPorts->setHeaderLabels({QStringLiteral("Port"), QStringLiteral("Version"), QStringLiteral("Country/Region")});
    m_pPorts->setRootIsDecorated(false);
    m_pPorts->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_pPorts->setMinimumHeight(wiz_DuY(this, 50));
    pPortsCaption->setBuddy(m_pPorts);
    auto *pImageCaption = new QLabel(QStringLiteral("&Hex File"), m_pGroup);
    m_pImages = new QComboBox(m_pGroup);
    m_pImages->setObjectName(QStringLiteral("images"));
    pImageCaption->setBuddy(m_pImages);
    pGroupLayout->addWidget(pPortsCaption);
    pGroupLayout->addWidget(m_pPorts, 1);
    pGroupLayout->addWidget(pImageCaption);
    pGroupLayout->addWidget(m_pImages);

    m_pStatus = new QLabel(pControls);
    m_pStatus->setWordWrap(true);
    pLayout->addWidget(m_pGroup, 1);
    pLayout->addWidget(m_pStatus);
    wiz_SetPageFrame(this, pControls);
}

void CModelPage::Activate()
{
    UpdateRun *pRun = m_pContext->pRun;
    m_pPorts->clear();
    m_pImages->clear();
    m_nCurrent = -1;
    m_current = DeviceType();
    for (std::size_t i = 0; i < pRun->models.size(); ++i) {
        if (pRun->models[i].bHasImage && !pRun->models[i].bSelected) {
            m_nCurrent = static_cast<int>(i);
            m_current = pRun->models[i];
            break;
        }
    }

    bool bLongVersions = false;
    for (const auto &pDevice : pRun->devices) {
        if (pDevice->type == m_current && pDevice->szVersionPart2[0] != '\0') bLongVersions = true;
    }
    wiz_SetColumnWidths(m_pPorts, [bLongVersions](int nWidth) {
        if (bLongVersions) return QList<int>{nWidth / 4 - 20, nWidth / 2 + 40, nWidth / 2};
        return QList<int>{nWidth / 4, nWidth / 4, nWidth / 2};
    });

    for (std::size_t i = 0; i < pRun->devices.size(); ++i) {
        const RunDevice &device = *pRun->devices[i];
        if (!(device.type == m_current)) continue;
        auto *pItem = new QTreeWidgetItem(m_pPorts);
        pItem->setText(0, QString::fromLocal8Bit(flsh_PortDisplayName(device.pUpdate)));
        pItem->setText(1, QString::fromLocal8Bit(wiz_DeviceVersionText(device).c_str()));
        pItem->setText(2, QString::fromLocal8Bit(device.country.DisplayName()));
        pItem->setData(0, Qt::UserRole, static_cast<int>(i));
    }
    for (std::size_t i = 0; i < pRun->images.size(); ++i) {
        if (!fitsModel(pRun->images[i], m_current)) continue;
        m_pImages->addItem(QString::fromLocal8Bit(wiz_ImageRowText(pRun->images[i]).c_str()), static_cast<int>(i));
    }
    m_pGroup->setTitle(QString::fromLocal8Bit(wiz_ModelName(m_current)));
    Sheet()->SetButtons(WizardButtons::BackNext);
}

void CModelPage::Fail(int nCode)
{
    ShowMessage(flsh_RunErrorMessage(m_pContext->pRun, nCode));
    CWizard *pSheet = Sheet();
    pSheet->HideCancel();
    pSheet->SetButtons(WizardButtons::FinishOnly);
}

bool CModelPage::Next()
{
    UpdateRun *pRun = m_pContext->pRun;
    QList<QTreeWidgetItem *> ports = m_pPorts->selectedItems();
    if (ports.isEmpty()) {
        ShowMessage("ERROR: You must select at least one communications port.");
        return false;
    }

    for (ImageEntry &image : pRun->images) {
        if (fitsModel(image, m_current)) image.bSelected = 0;
    }
    for (const auto &pDevice : pRun->devices) {
        if (pDevice->type == m_current) pDevice->bSelected = 0;
    }
    int nImage = m_pImages->currentIndex() >= 0 ? m_pImages->currentData().toInt() : -1;
    if (nImage >= 0 && nImage < static_cast<int>(pRun->images.size())) {
        pRun->images[nImage].bSelected = 1;
        // The rows keep the list's order, which is the run's order of the devices.
        std::sort(ports.begin(), ports.end(), [this](QTreeWidgetItem *a, QTreeWidgetItem *b) {
            return m_pPorts->indexOfTopLevelItem(a) < m_pPorts->indexOfTopLevelItem(b);
        });
        for (QTreeWidgetItem *pItem : ports) flsh_RunAssignImage(pRun, pItem->data(0, Qt::UserRole).toInt(), nImage);
    }

    int nImages = 0;
    for (const ImageEntry &image : pRun->images) {
        if (image.bSelected && fitsModel(image, m_current)) ++nImages;
    }
    if (nImages != 1) {
        Fail(flsh_kRunNoHexSelected);
        return false;
    }
    int nDevices = 0;
    for (const auto &pDevice : pRun->devices) {
        if (pDevice->bSelected && pDevice->type == m_current) ++nDevices;
    }
    if (nDevices == 0) {
        Fail(flsh_kRunNoDeviceSelected);
        return false;
    }

    if (m_nCurrent >= 0) pRun->models[m_nCurrent].bSelected = true;
    for (const DeviceType &model : pRun->models) {
        if (model.bHasImage && !model.bSelected) {
            // The same page again, for the next picked type.
            Sheet()->ReactivateCurrentPage();
            return false;
        }
    }
    return true;
}

void CModelPage::Cancel()
{
    flsh_SetCancel();
}
