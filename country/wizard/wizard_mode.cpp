#include "country/wizard/wizard_mode.h"

#include "country/config/ModemJobList.h"
#include "country/config/catalogue.h"
#include "country/wizard/country_app.h"
#include "country/wizard/message_boxes.h"
#include "country/wizard/wizard_art.h"

#include <QApplication>

#include <memory>

namespace {

enum ExitCode { kExitConfigured = 0, kExitNotConfigured = 1 };

// QApplication keeps references to its arguments for its whole life.
int g_argumentCount = 1;
char g_programName[] = "country";
char* g_arguments[] = {g_programName, nullptr};

}  // namespace

int RunCountryWizard(CModemJobList& jobs, bool logging, IMessageBoxes* boxes, const WizardTiming& timing)
{
    // Only the wizard needs a display: the command-line run never makes the application object.
    std::unique_ptr<QApplication> application;
    if (QCoreApplication::instance() == nullptr)
        application = std::make_unique<QApplication>(g_argumentCount, g_arguments);
    QApplication::setWindowIcon(CountryWindowIcon());
    CQtMessageBoxes realBoxes;
    IMessageBoxes& shown = boxes != nullptr ? *boxes : realBoxes;

    if (!LoadCountries()) {
        FreeCountries();
        shown.Show(nullptr, IMessageBoxes::kError, QString::fromUtf8(kCountryIniMissing));
        return kExitNotConfigured;
    }
    if (!LoadModels()) {
        FreeModels();
        FreeCountries();
        shown.Show(nullptr, IMessageBoxes::kError, QString::fromUtf8(kModelsIniMissing));
        return kExitNotConfigured;
    }
    bool configured = false;
    {
        CCfgSheet sheet(jobs, logging, shown, timing);
        sheet.exec();
        configured = sheet.EndedConfigured();
    }
    // A worker that is still configuring looks its country up in the catalogue: every worker is
    // stopped and gone before the catalogues are freed.
    jobs.DeleteAll();
    FreeModels();
    FreeCountries();
    return configured ? kExitConfigured : kExitNotConfigured;
}
