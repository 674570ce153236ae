#define PCRE2_CODE_UNIT_WIDTH 8
#include "country/wizard/version_text.h"

#include <pcre2.h>

#include <QtGlobal>

#include "suite_version.h"

std::string CountryVersionText()
{
    std::string text = "country (Meridia) " SUITE_VERSION "\n";
    text += std::string("Qt ") + qVersion() + " (built with " QT_VERSION_STR ")\n";
    // The release of the library actually loaded, which may be newer than the one built against.
    PCRE2_UCHAR version[64] = {0};
    if (pcre2_config(PCRE2_CONFIG_VERSION, version) > 0)
        text += std::string("PCRE2 ") + reinterpret_cast<const char*>(version) + "\n";
    return text;
}
