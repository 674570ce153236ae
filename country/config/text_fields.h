// Small text helpers shared by the catalogues, the profile layer and the identification worker.
#pragma once

#include <string>
#include <vector>

// Without the spaces, tabs, carriage returns and line feeds at either end.
std::string TrimBlanks(const std::string& text);

// The value split at every comma, each field trimmed.
std::vector<std::string> SplitFields(const std::string& value);

// The usual leading-digits conversion: blanks skipped, an optional sign, then decimal digits; no digits
// give 0. Values beyond the 32-bit range are clamped instead of wrapping.
int LeadingInt(const std::string& text);

bool EqualsNoCase(const std::string& a, const std::string& b);
bool ContainsNoCase(const std::string& haystack, const std::string& needle);
int CompareNoCase(const std::string& a, const std::string& b);
std::string ToUpperAscii(std::string text);
