#ifndef RAVELIN_CATALOGUE_CATALOGUE_H
#define RAVELIN_CATALOGUE_CATALOGUE_H

// The model catalogue: Models.ini and Locks.ini beside the executable, read once at start-up into a
// list sorted by model name and only read afterwards (worker threads query it without a lock).

#include <cstdint>
#include <vector>

#include "ravelin/catalogue/familyflags.h"

// Text capacities, terminator included; longer texts are cut to fit.
constexpr int cat_kNameLen = 40;        // model name: 39 characters
constexpr int cat_kPrefixLen = 8;       // image prefix: 7 characters
constexpr int cat_kVersionDigitLen = 2; // version digit: one character
constexpr int cat_kLoaderLen = 22;      // loader file name: 21 characters
constexpr int cat_kModelLineLen = 200;  // a MODEL_%d line: 199 characters
constexpr int cat_kUpgradeLen = 50;     // an Upgrade%d list: 49 characters
constexpr int cat_kVersionLen = 20;     // a [Version] Version value: 19 characters

// Results of cat_Load.
constexpr int cat_kLoaded = 0;
constexpr int cat_kNoModels = 1;        // Models.ini has no NumModels, or it is 0
constexpr int cat_kModelsVersion = 2;   // Models.ini version below 2
constexpr int cat_kNoLocksVersion = 3;  // Locks.ini has no version
constexpr int cat_kLocksVersion = 4;    // Locks.ini version below 1

// The Rockwell loader used when the catalogue names none for a model.
constexpr const char* cat_kDefaultLoader = "F35Aload.s37";

struct LockEntry {
    int nLock = -1;                 // firmware version family; -1 when Lock%d is missing
    std::vector<int> upgrades;      // locks whose images may be written onto this lock, 1-99
};

struct ModelEntry {
    int nModelId = 0;
    char szName[cat_kNameLen] = "";
    char szImagePrefix[cat_kPrefixLen] = "";
    std::uint32_t flags = cat_kDefaultFlags;
    char szVersionDigit[cat_kVersionDigitLen] = ""; // "x" means none
    char szLoader[cat_kLoaderLen] = "";
    std::vector<LockEntry> locks;
    std::vector<int> combined;      // Combined%d values
};

// Loads both files from the executable's directory, replacing whatever was loaded.
// Returns cat_kLoaded or one of the results 1-4 above.
int cat_Load();
// Empties the catalogue.
void cat_Free();
// Replaces the catalogue with these entries, sorted by name as cat_Load sorts them. For tools and
// tests that build a catalogue without files.
void cat_Install(std::vector<ModelEntry> entries);
// The start-up message for a cat_Load result 1-4 ("" for 0 or anything else).
const char* cat_LoadMessage(int nResult);

// Number of entries and the entry at a position of the sorted list (nullptr past the end).
int cat_Count();
const ModelEntry* cat_EntryAt(int nIndex);
// The first entry with that name (without regard to case) or image prefix (any case); nullptr when
// there is none. Entries without a name or prefix are never found.
const ModelEntry* cat_FindEntryByName(const char* pszName);
const ModelEntry* cat_FindEntryByPrefix(const char* pszPrefix);

// True and the catalogue name when a catalogue name stands as a whole word in the text: the first
// occurrence of the name must be followed by NUL, CR, LF or a blank. Names compare exactly here.
bool cat_FindModelInText(const char* pszText, char* pszName, int nNameSize);
// True and the model id of the first entry whose name equals the given one without regard to case.
bool cat_FindModelId(const char* pszName, int* pnId);
// Flags word of the first entry with that id; cat_kDefaultFlags when there is none.
std::uint32_t cat_FlagsForId(int nId);
// Name and flags of the entry at that position of the sorted list; false past the end.
bool cat_GetEntry(int nIndex, char* pszName, int nNameSize, std::uint32_t* pFlags);
// Loader of the first entry whose image prefix equals the first two characters of the image's file
// name (after the last backslash or slash, upper-cased); empty when none.
void cat_LoaderForImage(const char* pszImagePath, char* pszLoader, int nLoaderSize);
// Loader of the first entry with that model name (without regard to case); cat_kDefaultLoader when
// there is no such entry.
void cat_LoaderForModel(const char* pszModel, char* pszLoader, int nLoaderSize);
// Version digit of the first entry with that image prefix; empty when it is "x" or there is none.
void cat_VersionDigitForPrefix(const char* pszPrefix, char* pszDigit, int nDigitSize);

// Parsers behind cat_Load, exposed for the tools and tests that build entries from text.
// A model line: id, name, prefix, family, version digit, loader, separated by runs of ",{}".
void cat_ParseModelLine(const char* pszLine, ModelEntry* pEntry);
// An upgrade list "3-5,7": numbers and ranges in 1-99; the first bad item ends the list.
std::vector<int> cat_ParseUpgradeList(const char* pszList);

#endif
