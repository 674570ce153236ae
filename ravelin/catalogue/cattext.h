#ifndef RAVELIN_CATALOGUE_CATTEXT_H
#define RAVELIN_CATALOGUE_CATTEXT_H

// Small text helpers shared by the catalogue, version and country code readers. Case rules here
// touch the letters a-z only, so that bytes of other code pages in device answers pass unchanged.

#include <string>

namespace cattext {

inline char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }
inline bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Upper-cased copy of a text (null gives an empty text).
std::string ToUpper(const char* psz);
// Equal after upper-casing both sides; null counts as empty.
bool EqualNoCase(const char* a, const char* b);
// Compare after upper-casing both sides: <0, 0, >0.
int CompareNoCase(const char* a, const char* b);
// Copy of a text without leading and trailing blanks, tabs, CRs and LFs.
std::string Trimmed(const std::string& s);
// Copies at most nSize - 1 characters and terminates; nothing when the destination is null or
// nSize is 0 or less.
void CopyBounded(char* pszDest, const std::string& src, int nSize);
// Leading decimal number after optional blanks and a sign; 0 when there are no digits. Saturates
// instead of overflowing. *pbDigits (optional) tells whether any digit was read.
long ParseDecimal(const char* psz, bool* pbDigits = nullptr);
// Decimal digits from the very first character; 0 when the text does not start with a digit.
long LeadingNumber(const std::string& s);

} // namespace cattext

#endif
