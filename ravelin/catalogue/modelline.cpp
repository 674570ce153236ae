// Reading the texts of Models.ini and Locks.ini: the family table, model lines and upgrade lists.

#include <string>
#include <vector>

#include "ravelin/catalogue/catalogue.h"
#include "ravelin/catalogue/cattext.h"

namespace {

struct FamilyRow {
    const char* pszName;
    std::uint32_t flags;
};

// Controller families as Models.ini names them. Several names carry lower-case letters; a family
// is matched without regard to case on both sides so that these rows can be reached at all.
const FamilyRow kFamilies[] = {
    {"OLDMODEMS", 0x00000005},  {"NEWMODEMS", 0x00000024},     {"TA", 0x00000414},
    {"OctaTA2", 0x00000454},    {"OctaTA1", 0x00000494},       {"OCTAMODEMS", 0x00000065},
    {"NEWOCTAMODEMS", 0x00000064}, {"LUCENT", 0x00000100},     {"AGERE", 0x00007100},
    {"ROCKWELL", 0x00000200},   {"ROCKWELL2", 0x00000A00},     {"ROCKWELL3", 0x00004A00},
    {"ROCKWELL4", 0x00204A00},  {"SIEMENS", 0x00008000},       {"CF2", 0x00070000},
    {"CF3", 0x00030080},        {"CF4", 0x00170000},           {"CF", 0x00010080},
    {"TA2", 0x00080414},
};

bool IsFieldSeparator(char c) { return c == ',' || c == '{' || c == '}'; }

// Splits at runs of ",{}" and trims each field.
std::vector<std::string> SplitModelLine(const char* pszLine)
{
    std::vector<std::string> fields;
    const char* p = pszLine;
    while (*p) {
        while (*p && IsFieldSeparator(*p))
            ++p;
        if (!*p)
            break;
        const char* pStart = p;
        while (*p && !IsFieldSeparator(*p))
            ++p;
        fields.push_back(cattext::Trimmed(std::string(pStart, p)));
    }
    return fields;
}

// A number of the upgrade list: digits only (blanks around it allowed), 1-99.
bool ParseUpgradeNumber(const std::string& text, int* pn)
{
    const std::string t = cattext::Trimmed(text);
    if (t.empty() || t.size() > 2)
        return false;
    for (char c : t)
        if (!cattext::IsDigit(c))
            return false;
    const int n = static_cast<int>(cattext::LeadingNumber(t));
    if (n < 1 || n > 99)
        return false;
    *pn = n;
    return true;
}

} // namespace

std::uint32_t cat_FlagsForFamily(const char* pszFamily)
{
    if (!pszFamily)
        return cat_kDefaultFlags;
    for (const FamilyRow& row : kFamilies)
        if (cattext::EqualNoCase(row.pszName, pszFamily))
            return row.flags;
    return cat_kDefaultFlags;
}

void cat_ParseModelLine(const char* pszLine, ModelEntry* pEntry)
{
    if (!pEntry)
        return;
    *pEntry = ModelEntry();
    if (!pszLine)
        return;
    const std::vector<std::string> fields = SplitModelLine(pszLine);
    auto field = [&fields](std::size_t i) { return i < fields.size() ? fields[i] : std::string(); };

    pEntry->nModelId = static_cast<int>(cattext::ParseDecimal(field(0).c_str()));
    cattext::CopyBounded(pEntry->szName, field(1), cat_kNameLen);
    // Image file names are upper-cased before they are compared with the prefix.
    cattext::CopyBounded(pEntry->szImagePrefix, cattext::ToUpper(field(2).c_str()), cat_kPrefixLen);
    pEntry->flags = fields.size() > 3 ? cat_FlagsForFamily(field(3).c_str()) : cat_kDefaultFlags;
    const std::string digit = field(4);
    cattext::CopyBounded(pEntry->szVersionDigit, digit == "\"\"" ? std::string() : digit,
                         cat_kVersionDigitLen);
    const std::string loader = field(5);
    cattext::CopyBounded(pEntry->szLoader,
                         loader.find(';') != std::string::npos ? std::string() : loader, cat_kLoaderLen);
}

std::vector<int> cat_ParseUpgradeList(const char* pszList)
{
    std::vector<int> list;
    if (!pszList)
        return list;
    const std::string text = cattext::Trimmed(pszList);
    if (text.empty())
        return list;
    std::string::size_type start = 0;
    for (;;) {
        const std::string::size_type comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos
                                                                                : comma - start);
        const std::string::size_type dash = item.find('-');
        if (dash == std::string::npos) {
            int n = 0;
            if (!ParseUpgradeNumber(item, &n))
                break;
            list.push_back(n);
        } else {
            int nFrom = 0;
            int nTo = 0;
            if (!ParseUpgradeNumber(item.substr(0, dash), &nFrom) ||
                !ParseUpgradeNumber(item.substr(dash + 1), &nTo) || nFrom > nTo)
                break;
            for (int n = nFrom; n <= nTo; ++n)
                list.push_back(n);
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return list;
}
