// The texts the wizard pages show, kept by their numbers in the program's string table so that a
// translated table can be matched line for line.
#pragma once

#include <QString>

enum class WizardText {
    kAustralia = 103,
    kAttemptingToSet = 139,
    kPleaseWait = 140,
    kSuccessfullySet = 141,
    kClickFinishToExit = 142,
    kWelcomeLine1 = 143,
    kWelcomeLine2 = 144,
    kBeginWithNext = 145,
    kSelectCountry = 146,
    kErrorOccurred = 148,
    kErrorParametersFor = 149,
    kTryAgain = 150,
    kSetForCountry = 151,
    kToSetParametersFor = 152,
    kClickNext = 153,
    kParametersFor = 156,
    kApprovalLine1 = 157,
    kApprovalLine2 = 158,
    kApprovalLine3 = 159,
    kSearching = 160,
    kVersion = 183,
    kNoDeviceFound = 218,
};

// The exact text of the string table ("" for a number it does not hold).
const char* WizardTextOf(WizardText id);

// The same, with "%s" replaced by the chosen country or region.
QString WizardTextFor(WizardText id, const QString& country);

// Texts written for the original dialogs end lines with CR LF or a lone CR; a label or a message box
// wants LF, and a trailing line end would only add an empty line.
QString ForDisplay(const QString& text);

// The texts of the search page and its error box that the string table does not hold.
extern const char* const kDevicesIdentified;
extern const char* const kSelectOneDevice;
extern const char* const kPortColumn;
extern const char* const kModelColumn;
extern const char* const kCountryLabel;

// The approval note that the country page shows once per run; it ends with the maker's web address.
extern const char* const kMakerWebAddress;
QString ApprovalNote();
