// JSON text for the machine-readable output of the sub-commands.
#pragma once

#include <string>

// The text as a JSON string literal, quotes included. Device answers may hold any byte: quotes,
// backslashes and control bytes are escaped, and bytes above 0x7E are written as \u00XX, so the
// output is plain ASCII and always valid JSON.
std::string cli_JsonString(const std::string &text);
