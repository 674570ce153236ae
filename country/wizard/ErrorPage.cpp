#include "country/wizard/ErrorPage.h"

#include "country/wizard/CfgSheet.h"
#include "country/wizard/wizard_texts.h"

CErrorPage::CErrorPage(CCfgSheet& sheet) : CThreeLinePage(sheet)
{
}

void CErrorPage::OnActivate()
{
    Sheet().SetWizardButtons(CCfgSheet::kBack | CCfgSheet::kFinish);
    SetLines(QString::fromUtf8(WizardTextOf(WizardText::kErrorOccurred)),
             WizardTextFor(WizardText::kErrorParametersFor, Sheet().ChosenCountryText()),
             QString::fromUtf8(WizardTextOf(WizardText::kTryAgain)));
}
