// JSON text for the machine-readable output of the sub-commands.
#pragma once

#include <string>

// The text as a JSON string literal, quotes included. Device answers may hold any byte: quotes,
// backslashes and control bytes (DEL too) are escaped; valid UTF-8 passes through as it is, and
// every byte that is not part of a valid UTF-8 sequence becomes U+FFFD, so the output is always
// valid UTF-8 and valid JSON.
std::string cli_JsonString(const std::string &text);
