#include "country/wizard/SuccessPage.h"

#include "country/wizard/CfgSheet.h"
#include "country/wizard/wizard_texts.h"

CSuccessPage::CSuccessPage(CCfgSheet& sheet) : CThreeLinePage(sheet)
{
}

void CSuccessPage::OnActivate()
{
    Sheet().SetWizardButtons(CCfgSheet::kFinish);
    SetLines(QString::fromUtf8(WizardTextOf(WizardText::kSuccessfullySet)),
             QString::fromUtf8(WizardTextOf(WizardText::kSetForCountry)),
             QString::fromUtf8(WizardTextOf(WizardText::kClickFinishToExit)));
}
