#include "country/wizard/wizard_texts.h"

const char* const kDevicesIdentified = "Devices have been identified.  Please select a device to configure.";
const char* const kSelectOneDevice = "ERROR: You must select one device to configure.";
const char* const kPortColumn = "Port";
const char* const kModelColumn = "Model";
const char* const kCountryLabel = "&Country/Region";

// A placeholder of our own until the maker names the address to print here.
const char* const kMakerWebAddress = "https://www.example.com/meridia/approvals";

namespace {

struct TextEntry {
    WizardText id;
    const char* text;
};

const TextEntry kTexts[] = {
    {WizardText::kAustralia, "Australia"},
    {WizardText::kAttemptingToSet, "Attempting to set the modems homologation "},
    {WizardText::kPleaseWait, "Please wait......."},
    {WizardText::kSuccessfullySet, "The homologation parameters have been successfully"},
    {WizardText::kClickFinishToExit, "Click Finish to exit the Wizard."},
    {WizardText::kWelcomeLine1, "This wizard will allow you to configure your modem's"},
    {WizardText::kWelcomeLine2, "homologation parameters quickly and easily.  It is"},
    {WizardText::kBeginWithNext, "To begin the process, click Next."},
    {WizardText::kSelectCountry, "Select the country/region to configure the modem for."},
    {WizardText::kErrorOccurred, "An error occurred while configuring the homologation"},
    {WizardText::kErrorParametersFor, "parameters for %s."},
    {WizardText::kTryAgain, "To try again, click Back.  To exit, click Finish."},
    {WizardText::kSetForCountry, "set for the country/region you selected."},
    {WizardText::kToSetParametersFor, "To set the homologation parameters for"},
    {WizardText::kClickNext, "click Next."},
    {WizardText::kParametersFor, "parameters for %s."},
    {WizardText::kApprovalLine1, "illegal to use local phone lines with the modem if the"},
    {WizardText::kApprovalLine2, "modem is not configured for that country/region.  It"},
    {WizardText::kApprovalLine3, "may also hinder the performance of the modem."},
    {WizardText::kSearching,
     "Please wait while the wizard seaches for your device(s).  This may take up to 20 seconds."},
    {WizardText::kVersion, "Version 3.0.3.1"},
    {WizardText::kNoDeviceFound,
     "Could not find your device.  Please make sure the device is plugged in, turned on and the cable is "
     "connected properly.\r\nClick Finish now.\n"},
};

}  // namespace

const char* WizardTextOf(WizardText id)
{
    for (const TextEntry& entry : kTexts)
        if (entry.id == id)
            return entry.text;
    return "";
}

QString WizardTextFor(WizardText id, const QString& country)
{
    // A plain replacement: a country name holding "%" must not be read as a format.
    QString text = QString::fromUtf8(WizardTextOf(id));
    return text.replace(QStringLiteral("%s"), country);
}

QString ForDisplay(const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    while (shown.endsWith(QLatin1Char('\n')))
        shown.chop(1);
    return shown;
}

QString ApprovalNote()
{
    return QStringLiteral(
               "Please note that having the country/region listed in this application does not indicate that "
               "the modem you are using is approved for use in that country/region.\r\rFor further "
               "information, refer to the list of approved countries/regions, which may be included with your "
               "modem. If no such list exists or you wish to check on the most up-to-date country/region "
               "approval information, see the Orvanta web site at ") +
           QString::fromUtf8(kMakerWebAddress) + QStringLiteral(".");
}
