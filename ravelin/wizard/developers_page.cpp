#include "ravelin/wizard/developers_page.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/flash/command_line.h"
#include "ravelin/flash/flashinfo.h"
#include "ravelin/ident/devid.h"
#include "ravelin/support/oswin32.h"
#include "ravelin/wizard/flash_ini.h"
#include "ravelin/wizard/wizard.h"
#include "ravelin/wizard/wizard_picture.h"

namespace {

constexpr int kMaxSelectedPorts = 40;
const int kSpeeds[] = {9600, 19200, 38400, 57600, 115200};

// The device path's "\\.\" prefix is not shown.
const char *shownPortName(const RunDevice &device)
{
    const char *pszPath = device.pUpdate->szPortPath;
    return std::strlen(pszPath) > 4 ? pszPath + 4 : pszPath;
}

// True when the path opens and reads as a file (a directory opens, but does not read).
bool fileReadable(const char *pszPath)
{
    osfl_Handle hFile = osfl_Open(pszPath, osfl_kRead);
    if (hFile == osfl_kInvalidHandle) return false;
    char chByte;
    bool bReadable = osfl_Read(hFile, &chByte, 1) != osfl_kError;
    osfl_Close(hFile);
    return bReadable;
}

} // namespace

CDevelopersPage::CDevelopersPage(WizardContext *pContext, QWidget *pParent) : CRavelinPage(pContext, pParent)
{
    setObjectName(QStringLiteral("CDevelopersPage"));
    auto *pControls = new QWidget(this);
    auto *pLayout = new QVBoxLayout(pControls);
    pLayout->setContentsMargins(0, 0, 0, 0);

    m_pInstructions = new QLabel(pControls);
    m_pInstructions->setWordWrap(true);
    pLayout->addWidget(m_pInstructions);

    auto *pGrid = new QGridLayout();
    auto *pHexCaption = new QLabel(QStringLiteral("&Hex File:"), pControls);
    m_pHexFile = new QLineEdit(pControls);
    m_pHexFile->setObjectName(QStringLiteral("hexFile"));
    pHexCaption->setBuddy(m_pHexFile);
    m_pBrowse = new QPushButton(QStringLiteral("&Browse..."), pControls);
    connect(m_pBrowse, &QPushButton::clicked, this, &CDevelopersPage::Browse);
    pGrid->addWidget(pHexCaption, 0, 0);
    pGrid->addWidget(m_pHexFile, 0, 1);
    pGrid->addWidget(m_pBrowse, 0, 2);

    m_pBootCode = new QCheckBox(QStringLiteral("B&oot Code"), pControls);
    m_pCombined = new QCheckBox(QStringLiteral("Combined File"), pControls);
    auto *pBoxes = new QHBoxLayout();
    pBoxes->addWidget(m_pBootCode);
    pBoxes->addWidget(m_pCombined);
    pBoxes->addStretch(1);
    pGrid->addLayout(pBoxes, 1, 1, 1, 2);

    auto *pPortCaption = new QLabel(QStringLiteral("&COM Port"), pControls);
    m_pPorts = new QListWidget(pControls);
    m_pPorts->setObjectName(QStringLiteral("ports"));
    m_pPorts->setSelectionMode(QAbstractItemView::MultiSelection);
    pPortCaption->setBuddy(m_pPorts);
    pGrid->addWidget(pPortCaption, 2, 0, Qt::AlignTop);
    pGrid->addWidget(m_pPorts, 2, 1, 3, 1);

    auto *pTypeCaption = new QLabel(QStringLiteral("&Device Type"), pControls);
    m_pDeviceType = new QComboBox(pControls);
    m_pDeviceType->setObjectName(QStringLiteral("deviceType"));
    // As wide as the longest name, also while nothing is chosen.
    m_pDeviceType->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    pTypeCaption->setBuddy(m_pDeviceType);
    auto *pSpeedCaption = new QLabel(QStringLiteral("Baud &Rate"), pControls);
    m_pSpeed = new QComboBox(pControls);
    m_pSpeed->setObjectName(QStringLiteral("speed"));
    pSpeedCaption->setBuddy(m_pSpeed);
    auto *pRight = new QVBoxLayout();
    pRight->addWidget(pTypeCaption);
    pRight->addWidget(m_pDeviceType);
    pRight->addWidget(pSpeedCaption);
    pRight->addWidget(m_pSpeed);
    pRight->addStretch(1);
    pGrid->addLayout(pRight, 2, 2, 3, 1);
    pGrid->setColumnStretch(1, 1);
    pGrid->setRowStretch(4, 1);
    pLayout->addLayout(pGrid, 1);

    wiz_SetPageFrame(this, pControls);
}

void CDevelopersPage::Activate()
{
    Sheet()->SetButtons(WizardButtons::NextOnly);
    m_iniPath = wiz_FlashIniPath();
    m_pInstructions->setText(QStringLiteral("To update devices, complete the following:\n"
                                            "  1.  Specify the .hex file to progam.\n"
                                            "  2.  To update boot code, check the box.\n"
                                            "  3.  Select the COM Port(s) to update.\n"
                                            "  4.  Select the baud rate for the update."));
    FlashIniSettings saved = wiz_ReadFlashIni(m_iniPath);

    // A stored value that names no row leaves its list without a selection.
    m_pSpeed->clear();
    for (int nSpeed : kSpeeds) m_pSpeed->addItem(QString::number(nSpeed), nSpeed);
    m_pSpeed->setCurrentIndex(m_pSpeed->findText(QString::fromLocal8Bit(saved.speed.c_str()), Qt::MatchExactly | Qt::MatchCaseSensitive));

    m_pDeviceType->clear();
    QString previous;
    int nLongest = 0;
    for (int i = 0; i < cat_Count(); ++i) {
        char szName[cat_kNameLen] = "";
        std::uint32_t flags = 0;
        if (!cat_GetEntry(i, szName, sizeof szName, &flags)) break;
        QString name = QString::fromLocal8Bit(szName);
        // Runs of one name appear once.
        if (i > 0 && name.compare(previous, Qt::CaseInsensitive) == 0) continue;
        m_pDeviceType->addItem(name, static_cast<uint>(flags));
        previous = name;
        nLongest = std::max(nLongest, static_cast<int>(name.size()));
    }
    m_pDeviceType->setMinimumContentsLength(nLongest);
    m_pDeviceType->setCurrentIndex(
        m_pDeviceType->findText(QString::fromLocal8Bit(saved.model.c_str()), Qt::MatchExactly | Qt::MatchCaseSensitive));

    m_pPorts->clear();
    UpdateRun *pRun = m_pContext->pRun;
    for (std::size_t i = 0; i < pRun->devices.size(); ++i) {
        auto *pItem = new QListWidgetItem(QString::fromLocal8Bit(shownPortName(*pRun->devices[i])), m_pPorts);
        pItem->setData(Qt::UserRole, static_cast<int>(i));
    }
    for (const std::string &port : saved.ports) {
        // A stored name that is no listed port selects nothing (not every port).
        QList<QListWidgetItem *> found =
            m_pPorts->findItems(QString::fromLocal8Bit(port.c_str()), Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (!found.isEmpty()) found.first()->setSelected(true);
    }

    bool bCombined = m_pContext->pSettings->nAfterFlashCheck != 0;
    m_pCombined->setVisible(bCombined);
    m_pCombined->setChecked(bCombined);
    m_pBootCode->setChecked(false);
    m_pHexFile->setText(QString::fromLocal8Bit(saved.hexFile.c_str()));
}

void CDevelopersPage::Browse()
{
    QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Open"), m_pHexFile->text(),
                                                QStringLiteral("hex files(*.hex *.HEX);;All Files (*)"));
    if (!path.isEmpty()) m_pHexFile->setText(path);
}

bool CDevelopersPage::Next()
{
    UpdateRun *pRun = m_pContext->pRun;
    CommandLineSettings *pSettings = m_pContext->pSettings;

    std::vector<QListWidgetItem *> selected;
    for (int i = 0; i < m_pPorts->count() && static_cast<int>(selected.size()) < kMaxSelectedPorts; ++i) {
        if (m_pPorts->item(i)->isSelected()) selected.push_back(m_pPorts->item(i));
    }
    if (selected.empty()) {
        ShowMessage("ERROR: You must select at least one communications port.");
        return false;
    }
    std::string hexFile = m_pHexFile->text().toLocal8Bit().toStdString();
    if (hexFile.empty()) {
        ShowMessage("ERROR: You must specify a .hex file.");
        return false;
    }
    if (!fileReadable(hexFile.c_str())) {
        std::string message = "ERROR: Unable to open " + hexFile + ".\n\tPlease specify again.";
        ShowMessage(message.c_str());
        return false;
    }
    // A list left without a selection (Flash.ini named a value the list lacks) has no value to use.
    if (m_pDeviceType->currentIndex() < 0) {
        ShowMessage("ERROR: You must select a device type.");
        return false;
    }
    if (m_pSpeed->currentIndex() < 0) {
        ShowMessage("ERROR: You must select a baud rate.");
        return false;
    }

    pSettings->nBootCode = m_pBootCode->isChecked() ? 1 : 0;
    pSettings->nAfterFlashCheck = m_pCombined->isChecked() ? 1 : 0;
    int nSpeed = m_pSpeed->currentData().toInt();
    std::string model = m_pDeviceType->currentText().toLocal8Bit().toStdString();
    std::uint32_t flags = m_pDeviceType->currentData().toUInt();

    DeviceType type;
    type.SetFromModel(model.c_str());
    int nImage = flsh_RunAddImage(pRun, hexFile.c_str(), type) - 1;

    std::vector<std::string> portNames;
    std::vector<int> lucentDevices;
    for (QListWidgetItem *pItem : selected) {
        int nDevice = pItem->data(Qt::UserRole).toInt();
        RunDevice &device = *pRun->devices[nDevice];
        device.pUpdate->nSpeed = nSpeed;
        device.flags = flags;
        device.bFixedSpeed = pSettings->bDetection;
        flsh_RunAssignImage(pRun, nDevice, nImage);
        device.type = type;
        // Not identified: the device is taken to hold what the image is.
        device.version = pRun->images[nImage].version;
        flsh_SetAssumedModel(device.pUpdate, model.c_str());
        if (flags & FLF_LUCENT) lucentDevices.push_back(nDevice);
        portNames.emplace_back(shownPortName(device));
    }
    QueryLucentDevices(lucentDevices);
    // The settings only preset the page next time: the update goes on without them.
    std::string iniError;
    if (!wiz_WriteFlashIni(m_iniPath, pSettings->nBootCode != 0, nSpeed, model, hexFile, portNames, &iniError))
        ShowMessage(("The settings could not be saved in Flash.ini: " + iniError + ".").c_str());

    for (int i = static_cast<int>(pRun->devices.size()) - 1; i >= 0; --i) {
        if (!pRun->devices[i]->bSelected) flsh_RunRemoveDevice(pRun, i);
    }
    if (pRun->devices.empty()) {
        ShowMessage(flsh_RunErrorMessage(pRun, flsh_kRunNoDeviceSelected));
        Sheet()->HideCancel();
        Sheet()->SetButtons(WizardButtons::FinishOnly);
        return false;
    }
    return true;
}

void CDevelopersPage::QueryLucentDevices(const std::vector<int> &devices)
{
    if (devices.empty()) return;
    UpdateRun *pRun = m_pContext->pRun;
    CWizard *pSheet = Sheet();
    WizardButtons buttons = pSheet->Buttons();
    bool bCancelHidden = pSheet->CancelHidden();
    pSheet->SetButtons(WizardButtons::DisabledFinish);
    pSheet->HideCancel();

    // The queries take up to 10 s each; the window keeps painting meanwhile, and the last query
    // to end wakes the loop.
    QEventLoop loop;
    std::atomic<int> nRunning(static_cast<int>(devices.size()));
    std::vector<std::thread> threads;
    for (int nDevice : devices) {
        DeviceUpdate *pUpdate = pRun->devices[nDevice]->pUpdate;
        threads.emplace_back([pUpdate, &nRunning, &loop]() {
            int nStatus = devid_IdentifyLucentPort(&pUpdate->identity, pUpdate->szPortPath);
            pUpdate->flashMode = nStatus == devid_cLucentRead ? flsh_kGoFlash
                                 : nStatus == devid_cLucentNoFlashQuery ? flsh_kFullFlash
                                                                        : flsh_kNormalFlash;
            if (--nRunning == 0) QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    }
    loop.exec();
    for (std::thread &thread : threads) thread.join();

    if (!bCancelHidden) pSheet->ShowCancel();
    pSheet->SetButtons(buttons);
}
