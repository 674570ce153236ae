// The country program's profile files under hostile input: the bytes are Country.ini, Models.ini and
// modem.ini at once (each reader takes its own keys), loaded by the program's own catalogue code; then
// modem.ini gets one configuration record and every other section must come back exactly as it was.
#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "country/config/modem_ini.h"
#include "country/config/private_profile.h"
#include "country/config/text_fields.h"
#include "fuzz/fresh_scratch.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Fail(const char* what, const std::string& detail)
{
    std::fprintf(stderr, "country_profile: %s: %s\n", what, detail.c_str());
    std::abort();
}

// Lines as the profile layer sees them: split at LF, one trailing CR dropped.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

// A section header line and its name: "[name]", blanks allowed, an unclosed bracket runs to the end.
bool Header(const std::string& line, std::string* name)
{
    const std::string text = TrimBlanks(line);
    if (text.empty() || text[0] != '[')
        return false;
    const size_t close = text.find(']');
    *name = TrimBlanks(text.substr(1, close == std::string::npos ? std::string::npos : close - 1));
    return true;
}

struct Entry {
    std::string section;
    std::string key;
};

// Every key line with the section it stands in; lines before the first header belong to none.
std::vector<Entry> Entries(const std::vector<std::string>& lines)
{
    std::vector<Entry> entries;
    std::string section;
    bool inSection = false;
    for (const std::string& line : lines) {
        std::string name;
        if (Header(line, &name)) {
            section = name;
            inSection = true;
            continue;
        }
        const std::string text = TrimBlanks(line);
        const size_t equals = text.find('=');
        if (!inSection || text.empty() || text[0] == ';' || equals == std::string::npos)
            continue;
        entries.push_back({section, TrimBlanks(text.substr(0, equals))});
    }
    return entries;
}

// The port whose record is written: the first section named by a port number, so that an existing
// record is rewritten in place; a port the file does not name otherwise.
int RecordPort(const std::vector<std::string>& lines)
{
    for (const std::string& line : lines) {
        std::string name;
        if (!Header(line, &name) || name.empty() || name.size() > 3)
            continue;
        if (name.find_first_not_of("0123456789") != std::string::npos || name[0] == '0')
            continue;
        const int port = std::atoi(name.c_str());
        if (port >= 1 && port <= 255)
            return port;
    }
    return 7;
}

void CheckCountries()
{
    const bool loaded = LoadCountries();
    const std::vector<CountryRecord>& countries = Countries();
    if (loaded != !countries.empty())
        Fail("LoadCountries", "result does not say whether countries were read");
    for (size_t i = 0; i < countries.size(); ++i) {
        const CountryRecord& country = countries[i];
        if (country.name.empty() || country.name.size() > kCountryNameMax)
            Fail("country name out of bounds", country.name);
        if (i > 0 && CompareNoCase(countries[i - 1].name, country.name) > 0)
            Fail("countries not sorted", countries[i - 1].name + " before " + country.name);
        const CountryRecord* exact = FindCountryExact(country.name);
        if (exact == nullptr || exact->name != country.name)
            Fail("country not found by its own name", country.name);
        if (FindCountryByText(country.name) == nullptr)
            Fail("country not found by its text", country.name);
    }
    FreeCountries();
    if (!Countries().empty())
        Fail("FreeCountries", "the list is not empty");
}

void CheckModels()
{
    const bool loaded = LoadModels();
    const std::vector<ModelRecord>& models = Models();
    if (loaded != !models.empty())
        Fail("LoadModels", "result does not say whether models were read");
    for (const ModelRecord& model : models) {
        if (model.name.empty() || model.name.size() > kModelNameMax)
            Fail("model name out of bounds", model.name);
        if (model.defaultCommandSet < kCommandSetAgere || model.defaultCommandSet > kCommandSetAgere2)
            Fail("default command set out of range", model.name);
        for (const VersionLock& lock : model.locks)
            if (lock.commandSet < kCommandSetAgere || lock.commandSet > kCommandSetAgere2)
                Fail("lock command set out of range", model.name);
    }
    FreeModels();
}

// Writes one record into the file and proves that nothing else of it changed: every line outside the
// record's section is still there in order, every key of another section reads the same value, and
// the record reads back as written.
void CheckModemIni(const std::string& text)
{
    const std::string file = FileBesideExecutable("modem.ini");
    const std::vector<std::string> before = Lines(text);
    const int port = RecordPort(before);
    const std::string section = std::to_string(port);

    // Reading a key reads the whole file; a few dozen keys show the values, the line check shows the rest.
    const size_t kValueChecks = 48;
    std::vector<Entry> others;
    for (const Entry& entry : Entries(before))
        if (!EqualsNoCase(entry.section, section) && others.size() < kValueChecks)
            others.push_back(entry);
    const std::string kAbsent = "\x01(absent)";
    std::vector<std::string> values;
    for (const Entry& entry : others)
        values.push_back(ProfileGetString(file, entry.section, entry.key, kAbsent, 4096));

    ModemIniRecord record;
    record.portNumber = port;
    record.modelName = "AB12-X";
    record.countryName = "Norway (NO)";
    record.countryCodeHex = "82";
    record.commandSet = kCommandSetConexant2;
    std::string error;
    if (!WriteModemIniRecord(record, &error))
        Fail("modem.ini not written", error);

    const std::vector<std::string> after = Lines(fuzz::ReadWhole(file));
    // The lines of the first section of the record's name may change; no other line may.
    size_t next = 0;
    bool inRecord = false;
    bool recordSeen = false;
    for (const std::string& line : before) {
        std::string name;
        if (Header(line, &name)) {
            inRecord = !recordSeen && EqualsNoCase(name, section);
            recordSeen = recordSeen || inRecord;
            if (inRecord)
                continue;
        }
        if (inRecord)
            continue;
        while (next < after.size() && after[next] != line)
            ++next;
        if (next == after.size())
            Fail("a line outside the record was lost", line);
        ++next;
    }
    for (size_t i = 0; i < others.size(); ++i) {
        const std::string now = ProfileGetString(file, others[i].section, others[i].key, kAbsent, 4096);
        if (now != values[i])
            Fail("another section's value changed", "[" + others[i].section + "] " + others[i].key + ": " +
                                                        values[i] + " -> " + now);
    }
    const std::pair<const char*, std::string> written[] = {
        {"ModelName", record.modelName},   {"CountryName", record.countryName},
        {"CountryCode", record.countryCodeHex}, {"CommandSetName", CommandSetName(record.commandSet)},
        {"CommandSet", std::to_string(record.commandSet)}, {"CommPort", section},
    };
    for (const auto& key : written) {
        const std::string now = ProfileGetString(file, section, key.first, kAbsent, 4096);
        if (now != key.second)
            Fail("the record does not read back", std::string(key.first) + " = " + now);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The catalogues and modem.ini are looked for beside the program; here that is the scratch directory.
    SetExecutableDirectoryOverride(fuzz::ScratchDir());
    fuzz::WriteFreshScratch("Country.ini", data, size);
    fuzz::WriteFreshScratch("Models.ini", data, size);
    fuzz::WriteFreshScratch("modem.ini", data, size);
    CheckCountries();
    CheckModels();
    CheckModemIni(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
