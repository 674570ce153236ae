// What `ravelin --version` prints: the suite's version and the libraries the program was built with,
// so that a service report names exactly what ran.
#pragma once

#include <string>

std::string wiz_VersionText();
