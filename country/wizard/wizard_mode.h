// The wizard mode of the start-up: load the catalogues (a message box names a missing one), run the
// country wizard modally, then stop the remaining workers and free the catalogues.
#pragma once

#include "country/wizard/CfgSheet.h"

class CModemJobList;
class IMessageBoxes;

// jobs: the application's worker list; logging: every worker keeps a traffic log; boxes: where the
// messages go (nullptr: real message boxes). Makes the application object when there is none yet.
// Returns 0 when the wizard was finished with a modem configured, 1 otherwise (a catalogue missing,
// no modem, the configuration failed, or the wizard was cancelled).
int RunCountryWizard(CModemJobList& jobs, bool logging, IMessageBoxes* boxes,
                     const WizardTiming& timing = WizardTiming());
