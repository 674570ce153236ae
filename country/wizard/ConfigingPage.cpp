#include "country/wizard/ConfigingPage.h"

#include "country/PortWriter/CountryClock.h"
#include "country/config/ModemJob.h"
#include "country/wizard/CfgSheet.h"
#include "country/wizard/wizard_texts.h"

namespace {

// Identification ends by itself (every exchange has its time-out, the longest path takes about 45 s);
// this bound only guards the page against a worker that never reports.
const int kReidentifyTicks = 90;

}  // namespace

CConfigingPage::CConfigingPage(CCfgSheet& sheet) : CThreeLinePage(sheet)
{
    m_timer.setTimerType(Qt::CoarseTimer);
    connect(&m_timer, &QTimer::timeout, this, [this] { OnTick(); });
}

void CConfigingPage::OnActivate()
{
    // Set on every activation: a second attempt may be for another country.
    SetLines(QString::fromUtf8(WizardTextOf(WizardText::kAttemptingToSet)),
             WizardTextFor(WizardText::kParametersFor, Sheet().ChosenCountryText()),
             QString::fromUtf8(WizardTextOf(WizardText::kPleaseWait)));
    m_ticks = 0;
    m_reidentifying = Sheet().SelectedWorkerUsed();
    if (m_reidentifying) {
        // Identifying changes nothing in the modem: Cancel stays usable until the commands go out.
        Sheet().SetWizardButtons(0, true);
        Sheet().RenewSelectedWorker();
    } else {
        StartConfiguration();
    }
    m_timer.start(static_cast<int>(CClock::ToRealMs(Sheet().Timing().tickMs)));
}

void CConfigingPage::StartConfiguration()
{
    Sheet().SetWizardButtons(0, false);
    if (CModemJob* job = Sheet().SelectedWorker()) {
        job->SetCountry(Sheet().ChosenCountry());
        job->Go();
    }
    Sheet().MarkSelectedWorkerUsed();
}

void CConfigingPage::OnTick()
{
    if (!Sheet().isVisible()) {
        m_timer.stop();
        return;
    }
    CModemJob* job = Sheet().SelectedWorker();
    ++m_ticks;
    if (m_reidentifying) {
        if (job == nullptr || (job->Done() && job->Identified() != 1) || m_ticks > kReidentifyTicks) {
            Finish(CCfgSheet::kErrorPage);
        } else if (job->Done()) {
            m_reidentifying = false;
            m_ticks = 0;
            StartConfiguration();
        }
        return;
    }
    if (m_ticks > Sheet().Timing().configureTicks || job == nullptr)
        Finish(CCfgSheet::kErrorPage);
    else if (job->Done())
        Finish(job->Identified() == 1 ? CCfgSheet::kSuccessPage : CCfgSheet::kErrorPage);
}

void CConfigingPage::Finish(int pageId)
{
    m_timer.stop();
    Sheet().SetWizardButtons(0, true);
    Sheet().SwitchForwardTo(static_cast<CCfgSheet::PageId>(pageId));
}
