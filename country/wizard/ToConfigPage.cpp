#include "country/wizard/ToConfigPage.h"

#include "country/wizard/CfgSheet.h"
#include "country/wizard/wizard_texts.h"

CToConfigPage::CToConfigPage(CCfgSheet& sheet) : CThreeLinePage(sheet)
{
}

void CToConfigPage::OnActivate()
{
    Sheet().SetWizardButtons(CCfgSheet::kBack | CCfgSheet::kNext);
    SetLines(QString::fromUtf8(WizardTextOf(WizardText::kToSetParametersFor)), Sheet().ChosenCountryText(),
             QString::fromUtf8(WizardTextOf(WizardText::kClickNext)));
}
