// Country tables: the device answer table (searched in order, first match wins, so duplicate codes
// resolve to the earlier row) and the internal codes with their three spellings.

#include "ravelin/ident/countrycode.h"

#include <string>

#include "ravelin/catalogue/cattext.h"

namespace {

struct AnswerRow {
    int nRow;            // row code, -1 = none
    const char* pszName; // country name as a device may spell it (upper case)
    int nDecimal;        // decimal code, -1 = none
    int nHex;            // hexadecimal code, -1 = none
    const char* pszResult;
};

const AnswerRow kAnswers[] = {
    {1, "AUSTRALIA", 40, 0x09, "PTT AUSTRALIA"},
    {2, "BELGIUM", 2, -1, "PTT BELGIUM"},
    {3, "DENMARK", 3, -1, "PTT DANISH"},
    {4, "FINLAND", 4, -1, "PTT FINLAND"},
    {5, "FRANCE", 5, -1, "PTT FRANCE"},
    {6, "GERMANY", 6, -1, "PTT GERMAN"},
    {7, "HOLLAND", 10, -1, "PTT HOLLAND"},
    {8, "ITALY", 8, -1, "PTT ITALY"},
    {9, "NEW ZEALAND", 48, 0x7E, "PTT NEW ZEALAND"},
    {10, "NORWAY", 11, -1, "PTT NORWAY"},
    {11, "SPAIN", 13, -1, "PTT SPAIN"},
    {12, "SWEDEN", 14, -1, "PTT SWEDEN"},
    {13, "SWITZERLAND", 15, -1, "PTT SWITZ"},
    {14, "UNITED KINGDOM", 16, -1, "PTT BABT"},
    {15, "AUSTRIA", 1, -1, "PTT AUSTRIA"},
    {16, "JAPAN", 43, 0x00, "JAPAN"},
    {17, "CHINA", 41, -1, "CHINA"},
    {18, "KOREA", 44, -1, "KOREA"},
    {19, "MALAYSIA", 49, -1, "MALAYSIA"},
    {20, "SINGAPORE", 47, 0x9C, "SINGAPORE"},
    {21, "TAIWAN", 46, 0xFE, "TAIWAN"},
    {22, "THAILAND", -1, -1, "THAILAND"},
    {23, "INDONESIA", -1, -1, "INDONESIA"},
    {24, "PORTUGAL", 12, -1, "PORTUGAL"},
    {25, "NORTH AMERICA", 22, -1, "NORTH AMERICAN"},
    {26, "IRELAND", 7, -1, "IRELAND"},
    {27, "HONG KONG", 42, -1, "HONGKONG"},
    {28, "CANADA", 20, -1, "CANADA"},
    {29, "MEXICO", 21, -1, "MEXICO"},
    {30, "INDIA", 30, -1, "INDIA"},
    {31, "VIETNAM", -1, -1, "VIETNAM"},
    {32, "PHILIPPINES", 43, -1, "PHILIPPINES"},
    {33, "GREECE", 17, -1, "GREECE"},
    {34, "HUNGARY", 23, -1, "HUNGARY"},
    {35, "TURKEY", -1, -1, "TURKEY"},
    {36, "SOUTH AFRICA", -1, -1, "PTT SOUTH AFRICA"},
    {37, "CZECH REPUBLIC", 19, -1, "PTT CZECH"},
    {38, "POLAND", 24, -1, "PTT POLAND"},
    {39, "ISREAL", 18, -1, "ISREAL"},
    {40, "SLOVAK REPUBLIC", 26, -1, "SLOVAK"},
    {41, "SLOVENIA", -1, -1, "SLOVENIA"},
    {42, "CHILE", -1, -1, "CHILE"},
    {43, "INTERNATIONAL", 99, 0x99, "PTT"},
    {48, "INTERNATIONAL", -1, -1, "PTT"},
    {52, "PAN EUROPEAN", 98, 0xB5, "EUROPE/NORTH AMERICA"},
    {53, "INTERNATIONAL 2", 28, 0x9F, "INTERNATIONAL 2"},
    {54, "INTERNATIONAL 3", 28, 0x6C, "INTERNATIONAL 3"},
    {55, "INTERNATIONAL 4", 28, 0xB5, "INTERNATIONAL 4"},
    {-1, "BULGARIA", 27, -1, "BULGARIA"},
    {-1, "LUXEMBOURGH", 9, -1, "LUXEMBOURG"},
    {-1, "RUSSIA", 25, -1, "RUSSIA"},
    {-1, "ARGENTINA", -1, 0x01, "ARGENTINA"},
};

struct CodeRow {
    const char* pszIdent;    // identification name
    const char* pszFileCode; // two letters of image file names, "" = none
    const char* pszDisplay;
};

// Indexed by the internal code.
const CodeRow kCodes[CountryCode::kCount] = {
    {"ARGENTINA", "AR", "Argentina"},
    {"PTT AUSTRALIA", "AU", "Australia"},
    {"PTT AUSTRIA", "AT", "Austria"},
    {"PTT BELGIUM", "BE", "Belgium"},
    {"PTT CZECH", "CZ", "Czech Republic"},
    {"PTT DANISH", "DK", "Denmark"},
    {"PTT FINLAND", "FI", "Finland"},
    {"PTT FRANCE", "FR", "France"},
    {"PTT ITALY", "IT", "Italy"},
    {"PTT GERMAN", "DE", "Germany"},
    {"PTT HOLLAND", "NL", "Netherlands"},
    {"PTT NORWAY", "NO", "Norway"},
    {"PTT NEW ZEALAND", "NZ", "New Zealand"},
    {"PTT POLAND", "PL", "Poland"},
    {"PTT SOUTH AFRICA", "ZA", "South Africa"},
    {"PTT SWEDEN", "SE", "Sweden"},
    {"PTT SWITZ", "CH", "Switzerland"},
    {"PTT SPAIN", "ES", "Spain"},
    {"PTT UNITED ARAB EMIRATES", "AE", "United Arab Emirates"},
    {"PTT BABT", "GB", "United Kingdom"},
    {"BULGARIA", "BG", "Bulgaria"},
    {"CANADA", "CA", "Canada"},
    {"CHILE", "CL", "Chile"},
    {"CHINA", "", "China"},
    {"GREECE", "GR", "Greece"},
    {"HONGKONG", "HK", "HongKong"},
    {"HUNGARY", "HU", "Hungary"},
    {"INDIA", "IN", "India"},
    {"INDONESIA", "ID", "Indonesia"},
    {"IRELAND", "IE", "Ireland"},
    {"ISREAL", "IL", "Isreal"},
    {"JAPAN", "JP", "Japan"},
    {"KOREA", "KP", "Korea"},
    {"LUXEMBOURG", "LU", "Luxembourg"},
    {"MALAYSIA", "MY", "Malaysia"},
    {"MEXICO", "MX", "Mexico"},
    {"EUROPE/NORTH AMERICA", "QP", "Europe/North America"},
    {"PHILIPPINES", "PH", "Philippines"},
    {"PORTUGAL", "PT", "Portugal"},
    {"RUSSIA", "RU", "Russia"},
    {"SINGAPORE", "SG", "Singapore"},
    {"SLOVAK", "SK", "Slovak"},
    {"SLOVENIA", "SI", "Slovenia"},
    {"TAIWAN", "TW", "Taiwan"},
    {"THAILAND", "TH", "Thailand"},
    {"TURKEY", "TR", "Turkey"},
    {"VIETNAM", "VN", "Vietnam"},
    {"NORTH AMERICAN", "QX", "North America"},
    {"PTT", "QY", "International PTT"},
    {"UNIVERSAL", "QU", "Universal"},
    {"GLOBAL", "QG", "Global"},
    {"INTERNATIONAL 2", "QZ", "International 2"},
    {"INTERNATIONAL 3", "", "International 3"},
    {"INTERNATIONAL 4", "", "International 4"},
};

bool IsHexDigit(char c)
{
    return cattext::IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (cattext::IsDigit(c))
        return c - '0';
    return cattext::Upper(c) - 'A' + 10;
}

// Blanks, a sign, an optional 0x, hex digits. *pbDigits tells whether any digit was read.
long ParseHex(const char* p, bool* pbDigits)
{
    *pbDigits = false;
    while (*p == ' ' || *p == '\t')
        ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-') {
        bNegative = (*p == '-');
        ++p;
    }
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && IsHexDigit(p[2]))
        p += 2;
    long n = 0;
    for (; IsHexDigit(*p); ++p) {
        *pbDigits = true;
        if (n < 0x1000000L) // every code is one byte; stop growing long before overflow
            n = n * 16 + HexValue(*p);
    }
    return bNegative ? -n : n;
}

// -1 marks a row without that kind of code; a device answering "-1" must not reach such rows.
bool CodeMatches(int nRowCode, long nAnswer) { return nRowCode != -1 && nRowCode == nAnswer; }

bool RowMatches(const AnswerRow& row, const char* pszAnswer, int nMode)
{
    switch (nMode) {
    case devid_kCountryByName: {
        const long n = cattext::ParseDecimal(pszAnswer);
        if (n != 0)
            return CodeMatches(row.nRow, n);
        return cattext::EqualNoCase(row.pszName, cattext::Trimmed(pszAnswer).c_str());
    }
    case devid_kCountryByDecimal:
        return CodeMatches(row.nDecimal, cattext::ParseDecimal(pszAnswer));
    case devid_kCountryByHex: {
        // An answer without a single hex digit (empty, or a stray word) names no country; read as
        // 0 it would claim the row whose hexadecimal code is 00.
        bool bDigits = false;
        const long n = ParseHex(pszAnswer, &bDigits);
        return bDigits && CodeMatches(row.nHex, n);
    }
    default:
        return false;
    }
}

const CodeRow* RowOf(int nCode)
{
    return (nCode >= 0 && nCode < CountryCode::kCount) ? &kCodes[nCode] : nullptr;
}

} // namespace

int devid_FindCountry(const char* pszAnswer, char* pszCountry, int nCountrySize, int nMode)
{
    cattext::CopyBounded(pszCountry, "", nCountrySize);
    if (!pszAnswer)
        return 0;
    for (const AnswerRow& row : kAnswers) {
        if (RowMatches(row, pszAnswer, nMode)) {
            cattext::CopyBounded(pszCountry, row.pszResult, nCountrySize);
            return 1;
        }
    }
    return 0;
}

bool CountryCode::SetFromName(const char* pszName)
{
    const std::string upper = cattext::ToUpper(pszName);
    for (int i = 0; i < kCount; ++i) {
        if (upper == kCodes[i].pszIdent) {
            m_nCode = i;
            return true;
        }
    }
    return false;
}

bool CountryCode::SetFromFileCode(const char* pszFileCode)
{
    const std::string upper = cattext::ToUpper(pszFileCode);
    if (upper.empty())
        return false; // countries without a file code must not be reached by an empty text
    for (int i = 0; i < kCount; ++i) {
        if (upper == kCodes[i].pszFileCode) {
            m_nCode = i;
            return true;
        }
    }
    return false;
}

const char* CountryCode::DisplayName() const
{
    const CodeRow* pRow = RowOf(m_nCode);
    return pRow ? pRow->pszDisplay : "Unknown";
}

const char* CountryCode::IdentificationName() const
{
    const CodeRow* pRow = RowOf(m_nCode);
    return pRow ? pRow->pszIdent : "";
}

const char* CountryCode::FileCode() const
{
    const CodeRow* pRow = RowOf(m_nCode);
    return pRow ? pRow->pszFileCode : "";
}
