#include "ravelin/wizard/version_text.h"

// The update program matches no patterns itself; the PCRE2 release is the one its package was built
// against, shared with the country program, so one line tells both programs' libraries apart.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <QtGlobal>

#include "suite_version.h"

#define WIZ_STRINGIFY2(x) #x
#define WIZ_STRINGIFY(x) WIZ_STRINGIFY2(x)

std::string wiz_VersionText()
{
    std::string text = "ravelin " SUITE_VERSION "\n";
    text += std::string("Qt ") + qVersion() + " (built with " QT_VERSION_STR ")\n";
    text += "PCRE2 " WIZ_STRINGIFY(PCRE2_MAJOR) "." WIZ_STRINGIFY(PCRE2_MINOR) " (built with)\n";
    return text;
}
