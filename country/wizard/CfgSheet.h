// The country wizard: a QWizard of seven pages that searches COM1 to COM36 for modems, lets the user
// pick one and a country or region, has that modem's worker configure it and reports the outcome.
// The pages drive the workers of the application's list and poll them from timers; nothing here talks
// to a port or blocks the event loop.
#pragma once

#include <QString>
#include <QWizard>

#include <set>
#include <string>

class CModemJob;
class CModemJobList;
class IMessageBoxes;
class CWelcomePage;
class CIDing;
class CCountryPage;
class CToConfigPage;
class CConfigingPage;
class CErrorPage;
class CSuccessPage;

// How the pages poll their workers: one tick a second (logical time, stretched by the clock's time
// scale), and how many ticks the search and the configuration may take.
struct WizardTiming {
    long tickMs = 1000;
    int searchTicks = 20;
    int configureTicks = 20;
};

class CCfgSheet : public QWizard {
public:
    enum PageId { kWelcomePage, kSearchPage, kCountryPage, kReadyPage, kConfiguringPage, kErrorPage, kSuccessPage };
    enum ButtonFlag { kBack = 1, kNext = 2, kFinish = 4 };

    // jobs and boxes must outlive the sheet; logging makes every worker keep a traffic log.
    CCfgSheet(CModemJobList& jobs, bool logging, IMessageBoxes& boxes, const WizardTiming& timing = WizardTiming(),
              QWidget* parent = nullptr);
    ~CCfgSheet() override;

    // The one place that sets the wizard buttons: flags of ButtonFlag (Finish shows in place of Next);
    // Cancel, Escape and closing the window do nothing while cancelAllowed is false.
    void SetWizardButtons(int flags, bool cancelAllowed = true);
    int WizardButtons() const { return m_buttons; }
    bool CancelAllowed() const { return m_cancelAllowed; }

    CModemJobList& Jobs() const { return m_jobs; }
    bool Logging() const { return m_logging; }
    IMessageBoxes& Boxes() const { return m_boxes; }
    const WizardTiming& Timing() const { return m_timing; }

    // The country or region chosen on the country page, as the catalogue spells it (what the worker
    // looks up) and as the pages show it.
    const std::string& ChosenCountry() const { return m_country; }
    QString ChosenCountryText() const;
    void SetChosenCountry(const std::string& country) { m_country = country; }

    // The worker of the modem the user picked (nullptr before the search page was left).
    CModemJob* SelectedWorker() const { return m_selected; }
    void SelectWorker(CModemJob* job);
    // A worker configures once and then ends; the configuring page notes when it told it to go on.
    bool SelectedWorkerUsed() const { return m_selectedUsed; }
    void MarkSelectedWorkerUsed() { m_selectedUsed = true; }
    // A second attempt: releases the selected worker's port (stop, wait, free) and starts a fresh worker
    // for the same port, which identifies the modem again. The new worker (nullptr when it did not start).
    CModemJob* RenewSelectedWorker();

    // Moves on to a later page as Next would, whatever the buttons say (the configuring page's outcome).
    void SwitchForwardTo(PageId id);
    // Back: one page, except from the error page, which returns to the country page.
    void GoBack();

    // True when the wizard was finished on the success page.
    bool EndedConfigured() const;

    CWelcomePage* WelcomePage() const { return m_welcome; }
    CIDing* SearchPage() const { return m_search; }
    CCountryPage* CountryPage() const { return m_countryPage; }
    CToConfigPage* ReadyPage() const { return m_ready; }
    CConfigingPage* ConfiguringPage() const { return m_configuring; }
    CErrorPage* ErrorPage() const { return m_error; }
    CSuccessPage* SuccessPage() const { return m_success; }

    // The least size the pages' layouts allow: QWizard would make every wizard at least 500 x 360
    // pixels, which stretches these pages well past the proportions they are laid out in.
    QSize sizeHint() const override;
    int nextId() const override;
    void reject() override;

private:
    void OnPageChanged(int id);
    void ApplyButtons();

    CModemJobList& m_jobs;
    const bool m_logging;
    IMessageBoxes& m_boxes;
    const WizardTiming m_timing;
    std::string m_country;
    CModemJob* m_selected = nullptr;
    bool m_selectedUsed = false;
    int m_buttons = 0;
    bool m_cancelAllowed = true;
    int m_forwardTo = -1;
    bool m_passingThrough = false;  // pages crossed on the way back from the error page are not activated
    std::set<int> m_initialised;

    CWelcomePage* m_welcome;
    CIDing* m_search;
    CCountryPage* m_countryPage;
    CToConfigPage* m_ready;
    CConfigingPage* m_configuring;
    CErrorPage* m_error;
    CSuccessPage* m_success;
};
