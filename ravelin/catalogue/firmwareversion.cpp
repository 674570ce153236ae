// Firmware version records from image names and device answers.

#include "ravelin/catalogue/firmwareversion.h"

#include <string>

#include "ravelin/catalogue/cattext.h"

namespace {

using std::string;

// The text from position n on; empty when it is shorter.
string From(const string& s, string::size_type n) { return n < s.size() ? s.substr(n) : string(); }

// One digit of major number, the minor number after it (skipping a "." right after the digit).
void SplitAfterFirst(const string& s, string* pMajor, string* pMinor)
{
    *pMajor = s.substr(0, 1);
    *pMinor = (s.find('.') == 1) ? From(s, 2) : From(s, 1);
}

void Fill(FirmwareVersion* pVersion, const string& major, const string& minor, char cSuffix)
{
    pVersion->nMajor = static_cast<int>(cattext::LeadingNumber(major));
    pVersion->nMinor = static_cast<int>(cattext::LeadingNumber(minor));
    pVersion->cSuffix = cSuffix;
    cattext::CopyBounded(pVersion->szText, major + "." + minor + cSuffix, fwv_kTextLen);
}

char SuffixAt(const string& s, string::size_type n)
{
    return (n < s.size() && cattext::IsLetter(s[n])) ? cattext::Upper(s[n]) : ' ';
}

} // namespace

int ParseFirmwareVersion(FirmwareVersion* pVersion, const char* pszText, const DeviceType* pType,
                         const char* pszImagePrefix)
{
    if (!pVersion)
        return 1;
    string text = pszText ? pszText : "";

    // Image names cannot hold a ".", so some write the version as _3_10 for 3.10.
    bool bUnderscore = false;
    if (!text.empty() && text[0] == '_') {
        bUnderscore = true;
        text.erase(0, 1);
        for (char& c : text)
            if (c == '_')
                c = '.';
    }

    char cSuffix = ' ';
    if (!text.empty() && cattext::IsLetter(text.back())) {
        cSuffix = cattext::Upper(text.back());
        text.pop_back();
    }

    const std::uint32_t flags = pType ? pType->Flags() : 0;
    string major;
    string minor;
    if (flags & FLF_ROCKWELL) {
        // Rockwell version texts carry no major number: an image's comes from the catalogue entry of
        // its prefix, a device's is always 2.
        if (pszImagePrefix) {
            char szDigit[cat_kVersionDigitLen];
            cat_VersionDigitForPrefix(pszImagePrefix, szDigit, sizeof szDigit);
            major = szDigit;
        } else {
            major = "2";
        }
        if (!major.empty())
            minor = (text.find('.') == 0) ? From(text, 1) : text;
        else
            SplitAfterFirst(text, &major, &minor);
    } else if (bUnderscore || text.size() == 3) {
        SplitAfterFirst(text, &major, &minor);
    } else {
        major = text.substr(0, 2);
        minor = (text.find('.') == 2) ? From(text, 3) : From(text, 2);
    }
    Fill(pVersion, major, minor, cSuffix);
    return 1;
}

int ParseDeviceVersion(FirmwareVersion* pVersion, const char* pszVersion, const char* pszSuffix,
                       const DeviceType* pType, char* pszPart2, int nPart2Size, char* pszPart3,
                       int nPart3Size)
{
    if (!pVersion)
        return 1;
    const string text = pszVersion ? pszVersion : "";
    const string::size_type p = text.find('.');

    if (p == string::npos) {
        // Dotless device versions start with a letter or marker that is not part of the number.
        ParseFirmwareVersion(pVersion, From(text, 1).c_str(), pType, nullptr);
    } else {
        string major;
        string minor;
        char cSuffix = ' ';
        const string::size_type h = text.find("_V");
        if (h != string::npos) {
            major = (p >= h + 2) ? text.substr(h + 2, p - h - 2) : string();
            minor = From(text, p + 1).substr(0, 3);
            cSuffix = SuffixAt(text, p + 4);
        } else if (cattext::IsLetter(text[0])) {
            major = text.substr(1, p - 1);
            minor = From(text, p + 1).substr(0, 3);
            cSuffix = SuffixAt(text, 6);
        } else {
            major = text.substr(0, p);
            minor = From(text, p + 1);
            if (p != 2 && text.size() == 5) {
                minor = From(text, p + 1).substr(0, 2);
                cSuffix = cattext::Upper(text[4]);
            }
        }
        Fill(pVersion, major, minor, cSuffix);
    }

    // A suffix such as ABC-DEF names the build (ABC) and its revision (-DEF).
    const string suffix = pszSuffix ? pszSuffix : "";
    const string::size_type dash = suffix.find('-');
    if (dash != string::npos) {
        cattext::CopyBounded(pszPart2, suffix.substr(0, dash), nPart2Size);
        cattext::CopyBounded(pszPart3, suffix.substr(dash), nPart3Size);
    } else {
        cattext::CopyBounded(pszPart2, "", nPart2Size);
        cattext::CopyBounded(pszPart3, "", nPart3Size);
    }
    return 1;
}

void fwv_ShownText(const FirmwareVersion* pVersion, char* pszText, int nCapacity)
{
    string text = pVersion ? pVersion->szText : "";
    if (!text.empty() && text.back() == ' ')
        text.pop_back();
    cattext::CopyBounded(pszText, text, nCapacity);
}
