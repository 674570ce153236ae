#include "ravelin/wizard/wizard_page.h"

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/catalogue/devicetype.h"
#include "ravelin/wizard/message_boxes.h"
#include "ravelin/wizard/wizard.h"

CRavelinPage::CRavelinPage(WizardContext *pContext, QWidget *pParent) : QWizardPage(pParent), m_pContext(pContext)
{
    setTitle(QStringLiteral("Firmware Update Wizard"));
}

CWizard *CRavelinPage::Sheet() const
{
    return qobject_cast<CWizard *>(wizard());
}

void CRavelinPage::ShowMessage(const char *pszText)
{
    m_pContext->pBoxes->Show(wizard(), pszText);
}

const char *wiz_ModelName(const DeviceType &type)
{
    const ModelEntry *pEntry = cat_FindEntryByName(type.szName);
    return pEntry != nullptr ? pEntry->szName : type.szName;
}
