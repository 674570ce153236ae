#include "ravelin/wizard/wizard_page.h"

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
