// The country program's two catalogues beside the executable: Country.ini (countries and regions with the
// country code each chip family needs) and Models.ini (the models it can identify and the command set
// each uses). Both are loaded once at start-up into process-wide lists, read-only while workers run, and
// freed at the end.
#pragma once

#include <string>
#include <vector>

// The chip families' country command sets, numbered as Models.ini and modem.ini know them.
enum CommandSet {
    kCommandSetAgere = 1,
    kCommandSetConexant = 2,
    kCommandSetConexant2 = 3,
    kCommandSetConexant3 = 4,
    kCommandSetAgere2 = 5,
};

struct CountryRecord {
    std::string name;  // up to 99 characters; shown in the list and used as the lookup key
    int agereCode = 0;      // command set 1
    int agere2Code = 0;     // command set 5
    int conexantCode = 0;   // command set 2
    int conexant2Code = 0;  // command set 3
    int conexant3Code = 0;  // command set 4
};

struct VersionLock {
    int version = 0;
    int commandSet = kCommandSetAgere;
};

struct ModelRecord {
    std::string name;  // up to 39 characters; looked for in the modem's answers
    int needsAmpersandG = 0;
    int defaultCommandSet = kCommandSetAgere;
    std::vector<VersionLock> locks;  // in key order
};

const size_t kCountryNameMax = 99;
const size_t kModelNameMax = 39;
const size_t kCatalogueValueBuffer = 200;
const size_t kLockValueBuffer = 20;

// A command-set name of Models.ini (any letter case) to its number; names not listed mean Agere.
int CommandSetFromName(const std::string& name);
// The name modem.ini records for a command set; values outside 2-5 are recorded as Agere.
const char* CommandSetName(int commandSet);

// Read the catalogue into its list; false when the file holds no entries (a missing file included).
bool LoadCountries();
bool LoadModels();
void FreeCountries();
void FreeModels();

// Sorted by name without regard to case.
const std::vector<CountryRecord>& Countries();
// In file order: the order identification tries them in.
const std::vector<ModelRecord>& Models();

// The country whose name equals name exactly, or nullptr.
const CountryRecord* FindCountryExact(const std::string& name);
// The country named text, or else the first in list order whose name contains text without regard to
// case ("(US)" finds "United States (US)"); nullptr when none does.
const CountryRecord* FindCountryByText(const std::string& text);

// The code a command set sends for a country; values outside 1-5 take the Agere code.
int CountryCodeFor(const CountryRecord& country, int commandSet);
