#include "country/wizard/CfgSheet.h"

#include "country/config/ModemJobList.h"
#include "country/wizard/ConfigingPage.h"
#include "country/wizard/CountryPage.h"
#include "country/wizard/ErrorPage.h"
#include "country/wizard/IDing.h"
#include "country/wizard/SuccessPage.h"
#include "country/wizard/ToConfigPage.h"
#include "country/wizard/WelcomePage.h"
#include "country/wizard/wizard_art.h"

#include <QAbstractButton>
#include <QLayout>

CCfgSheet::CCfgSheet(CModemJobList& jobs, bool logging, IMessageBoxes& boxes, const WizardTiming& timing,
                     QWidget* parent)
    : QWizard(parent), m_jobs(jobs), m_logging(logging), m_boxes(boxes), m_timing(timing)
{
    setWindowTitle(QStringLiteral("country"));
    setWindowIcon(CountryWindowIcon());
    // One look on every platform; the picture is part of each page, not a style's watermark.
    setWizardStyle(QWizard::ClassicStyle);
    setOption(QWizard::NoBackButtonOnStartPage, false);

    m_welcome = new CWelcomePage(*this);
    m_search = new CIDing(*this);
    m_countryPage = new CCountryPage(*this);
    m_ready = new CToConfigPage(*this);
    m_configuring = new CConfigingPage(*this);
    m_error = new CErrorPage(*this);
    m_success = new CSuccessPage(*this);
    setPage(kWelcomePage, m_welcome);
    setPage(kSearchPage, m_search);
    setPage(kCountryPage, m_countryPage);
    setPage(kReadyPage, m_ready);
    setPage(kConfiguringPage, m_configuring);
    setPage(kErrorPage, m_error);
    setPage(kSuccessPage, m_success);
    setStartId(kWelcomePage);

    // QWizard emits this after it has set its own button states for the new page, so the page's
    // activation has the last word on them.
    connect(this, &QWizard::currentIdChanged, this, [this](int id) { OnPageChanged(id); });
    // Back from the error page skips the pages in between; QWizard's own Back cannot.
    QAbstractButton* back = button(QWizard::BackButton);
    back->disconnect(this);
    connect(back, &QAbstractButton::clicked, this, [this] { GoBack(); });
}

CCfgSheet::~CCfgSheet() = default;

void CCfgSheet::SetWizardButtons(int flags, bool cancelAllowed)
{
    m_buttons = flags;
    m_cancelAllowed = cancelAllowed;
    ApplyButtons();
}

void CCfgSheet::ApplyButtons()
{
    const bool finish = (m_buttons & kFinish) != 0;
    QAbstractButton* back = button(QWizard::BackButton);
    QAbstractButton* next = button(QWizard::NextButton);
    QAbstractButton* finishButton = button(QWizard::FinishButton);
    back->setVisible(true);
    back->setEnabled((m_buttons & kBack) != 0);
    next->setVisible(!finish);
    next->setEnabled((m_buttons & kNext) != 0);
    finishButton->setVisible(finish);
    finishButton->setEnabled(finish);
    button(QWizard::CancelButton)->setEnabled(m_cancelAllowed);
}

void CCfgSheet::OnPageChanged(int id)
{
    if (m_passingThrough)
        return;
    auto* page = dynamic_cast<CSheetPage*>(this->page(id));
    if (page == nullptr)
        return;
    if (m_initialised.insert(id).second)
        page->OnInit();
    page->OnActivate();
}

QString CCfgSheet::ChosenCountryText() const
{
    return CatalogueText(m_country);
}

void CCfgSheet::SelectWorker(CModemJob* job)
{
    if (job != m_selected)
        m_selectedUsed = false;
    m_selected = job;
}

CModemJob* CCfgSheet::RenewSelectedWorker()
{
    if (m_selected == nullptr)
        return nullptr;
    m_selected = m_jobs.RestartJob(m_selected, m_logging);
    m_selectedUsed = false;
    return m_selected;
}

QSize CCfgSheet::sizeHint() const
{
    // Any size below the least the layout allows grows to that least size, which holds every page's
    // text and picture.
    return minimumSizeHint().expandedTo(QSize(1, 1));
}

int CCfgSheet::nextId() const
{
    if (m_forwardTo >= 0)
        return m_forwardTo;
    switch (currentId()) {
    case kWelcomePage:
        return kSearchPage;
    case kSearchPage:
        // With no modem found the search page is the last one: Finish ends the wizard there.
        return m_search->NothingFound() ? -1 : kCountryPage;
    case kCountryPage:
        return kReadyPage;
    case kReadyPage:
        return kConfiguringPage;
    case kConfiguringPage:
        // It leaves only by its outcome (SwitchForwardTo); until then it is no last page, so QWizard
        // shows Next there, as the page does.
        return kSuccessPage;
    default:
        return -1;
    }
}

void CCfgSheet::SwitchForwardTo(PageId id)
{
    m_forwardTo = id;
    next();
    m_forwardTo = -1;
}

void CCfgSheet::GoBack()
{
    if (currentId() != kErrorPage) {
        back();
        return;
    }
    m_passingThrough = true;
    while (currentId() != kCountryPage && currentId() != kWelcomePage)
        back();
    m_passingThrough = false;
    OnPageChanged(currentId());
}

bool CCfgSheet::EndedConfigured() const
{
    return result() == QDialog::Accepted && currentId() == kSuccessPage;
}

void CCfgSheet::reject()
{
    // While a modem is being configured, cutting its command sequence short would leave it half set
    // with nothing recorded; the configuring page ends by itself within its time limit.
    if (!m_cancelAllowed)
        return;
    // Workers that are still searching or waiting hold their ports until they are stopped.
    m_jobs.StopAll();
    QWizard::reject();
}
