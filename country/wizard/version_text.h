// What `country --version` prints: the suite's version and the Qt and PCRE2 releases in use, so that
// a service report names exactly what ran.
#pragma once

#include <string>

std::string CountryVersionText();
