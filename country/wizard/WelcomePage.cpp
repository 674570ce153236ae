#include "country/wizard/WelcomePage.h"

#include "country/wizard/CfgSheet.h"
#include "country/wizard/wizard_texts.h"

#include <QVBoxLayout>

CWelcomePage::CWelcomePage(CCfgSheet& sheet) : CSheetPage(sheet)
{
    for (WizardText id : {WizardText::kWelcomeLine1, WizardText::kWelcomeLine2, WizardText::kApprovalLine1,
                          WizardText::kApprovalLine2, WizardText::kApprovalLine3})
        AddLine(QString::fromUtf8(WizardTextOf(id)));
    AddLine();
    AddLine(QString::fromUtf8(WizardTextOf(WizardText::kVersion)));
    AddLine();
    AddLine(QString::fromUtf8(WizardTextOf(WizardText::kBeginWithNext)));
    Column()->addStretch(1);
}

void CWelcomePage::OnActivate()
{
    Sheet().SetWizardButtons(CCfgSheet::kNext);
}
