#include "country/config/catalogue.h"

#include "country/config/executable_dir.h"
#include "country/config/private_profile.h"
#include "country/config/text_fields.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

std::vector<CountryRecord> g_countries;
std::vector<ModelRecord> g_models;

std::string Field(const std::vector<std::string>& fields, size_t index)
{
    return index < fields.size() ? fields[index] : std::string();
}

// Entries that lack fields still count; the missing codes are 0 and a missing command set is Agere.
int NumberField(const std::vector<std::string>& fields, size_t index)
{
    return LeadingInt(Field(fields, index));
}

std::string Cut(std::string text, size_t capacity)
{
    if (text.size() > capacity)
        text.resize(capacity);
    return text;
}

std::string Numbered(const char* prefix, int number)
{
    char key[32];
    std::snprintf(key, sizeof key, "%s%d", prefix, number);
    return key;
}

// The numbers n from 1 to count, ascending, for which the section holds the key Numbered(prefix, n)
// (the prefix in any letter case). These are the entries a visit of every number up to the count
// would find; the count of a damaged file can run to thousands of millions, and reading the file
// once per number would then keep the program at start-up for hours.
std::vector<int> NumberedKeys(const std::string& file, const std::string& section, const std::string& prefix,
                              int count)
{
    std::vector<int> numbers;
    for (const std::string& key : ProfileSectionKeys(file, section)) {
        if (key.size() <= prefix.size() || !EqualsNoCase(key.substr(0, prefix.size()), prefix))
            continue;
        const std::string digits = key.substr(prefix.size());
        // Only the decimal form "%d" writes: no sign, no leading zero, nothing after the digits.
        if (digits[0] == '0' || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const long long number = std::strtoll(digits.c_str(), nullptr, 10);
        if (number <= count)
            numbers.push_back(static_cast<int>(number));
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    return numbers;
}

}  // namespace

int CommandSetFromName(const std::string& name)
{
    std::string upper = ToUpperAscii(name);
    if (upper == "CONEXANT")
        return kCommandSetConexant;
    if (upper == "CONEXANT2")
        return kCommandSetConexant2;
    if (upper == "CONEXANT3")
        return kCommandSetConexant3;
    if (upper == "AGERE2")
        return kCommandSetAgere2;
    return kCommandSetAgere;
}

const char* CommandSetName(int commandSet)
{
    switch (commandSet) {
    case kCommandSetConexant:
        return "Conexant";
    case kCommandSetConexant2:
        return "Conexant2";
    case kCommandSetConexant3:
        return "Conexant3";
    case kCommandSetAgere2:
        return "Agere2";
    default:
        return "Agere";
    }
}

bool LoadCountries()
{
    FreeCountries();
    const std::string file = FileBesideExecutable("Country.ini");
    int count = ProfileGetInt(file, "Countries", "NumCountries", 0);
    if (count <= 0)
        return false;
    for (int i : NumberedKeys(file, "Countries", "COUNTRY", count)) {
        std::vector<std::string> fields =
            SplitFields(ProfileGetString(file, "Countries", Numbered("COUNTRY", i), "", kCatalogueValueBuffer));
        CountryRecord country;
        country.name = Cut(Field(fields, 0), kCountryNameMax);
        // An entry without a name cannot be chosen or looked up; counting it would only put a blank
        // line into the country list.
        if (country.name.empty())
            continue;
        country.agereCode = NumberField(fields, 1);
        country.conexantCode = NumberField(fields, 2);
        country.conexant2Code = NumberField(fields, 3);
        country.conexant3Code = NumberField(fields, 4);
        country.agere2Code = NumberField(fields, 5);
        g_countries.push_back(country);
    }
    std::stable_sort(g_countries.begin(), g_countries.end(),
                     [](const CountryRecord& a, const CountryRecord& b) { return CompareNoCase(a.name, b.name) < 0; });
    return !g_countries.empty();
}

bool LoadModels()
{
    FreeModels();
    const std::string file = FileBesideExecutable("Models.ini");
    int count = ProfileGetInt(file, "Models", "NumModels", 0);
    if (count <= 0)
        return false;
    for (int i : NumberedKeys(file, "Models", "MODEL", count)) {
        std::vector<std::string> fields =
            SplitFields(ProfileGetString(file, "Models", Numbered("MODEL", i), "", kCatalogueValueBuffer));
        ModelRecord model;
        model.name = Cut(Field(fields, 0), kModelNameMax);
        // A model without a name would be "found" at the start of every answer.
        if (model.name.empty())
            continue;
        model.needsAmpersandG = NumberField(fields, 1);
        model.defaultCommandSet = CommandSetFromName(Field(fields, 2));
        int locks = ProfileGetInt(file, model.name, "NumLocks", 0);
        for (int j : NumberedKeys(file, model.name, "Lock", locks)) {
            std::string value = ProfileGetString(file, model.name, Numbered("Lock", j), "", kLockValueBuffer);
            // A lock that is counted but missing says nothing about any version.
            if (value.empty())
                continue;
            std::vector<std::string> lockFields = SplitFields(value);
            VersionLock lock;
            lock.version = NumberField(lockFields, 0);
            lock.commandSet = CommandSetFromName(Field(lockFields, 1));
            model.locks.push_back(lock);
        }
        g_models.push_back(model);
    }
    return !g_models.empty();
}

void FreeCountries()
{
    g_countries.clear();
}

void FreeModels()
{
    g_models.clear();
}

const std::vector<CountryRecord>& Countries()
{
    return g_countries;
}

const std::vector<ModelRecord>& Models()
{
    return g_models;
}

const CountryRecord* FindCountryExact(const std::string& name)
{
    for (const CountryRecord& country : g_countries)
        if (country.name == name)
            return &country;
    return nullptr;
}

const CountryRecord* FindCountryByText(const std::string& text)
{
    if (const CountryRecord* exact = FindCountryExact(text))
        return exact;
    if (text.empty())
        return nullptr;
    for (const CountryRecord& country : g_countries)
        if (ContainsNoCase(country.name, text))
            return &country;
    return nullptr;
}

int CountryCodeFor(const CountryRecord& country, int commandSet)
{
    switch (commandSet) {
    case kCommandSetConexant:
        return country.conexantCode;
    case kCommandSetConexant2:
        return country.conexant2Code;
    case kCommandSetConexant3:
        return country.conexant3Code;
    case kCommandSetAgere2:
        return country.agere2Code;
    default:
        return country.agereCode;
    }
}
