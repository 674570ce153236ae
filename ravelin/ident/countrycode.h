#ifndef RAVELIN_IDENT_COUNTRYCODE_H
#define RAVELIN_IDENT_COUNTRYCODE_H

// The three spellings of a country: what a device answers (a number, a hexadecimal code or a name),
// the two letters of an image file name, and the name shown to the user.

// How devid_FindCountry reads a device's answer.
constexpr int devid_kCountryByName = 1;    // row number, or the country's name (any case)
constexpr int devid_kCountryByDecimal = 2; // decimal country code
constexpr int devid_kCountryByHex = 4;     // hexadecimal country code

constexpr int devid_kCountryNameLen = 32;  // longest identification name fits, terminator included

// Writes the identification name of the first row of the device answer table that matches the
// answer (e.g. "PTT GERMAN"), or an empty text when none does. Returns 1 when a row matched, else 0.
int devid_FindCountry(const char* pszAnswer, char* pszCountry, int nCountrySize, int nMode);

// An internal country code 0-53. Behaves like an integer: copies, assigns and compares as one.
class CountryCode {
public:
    static constexpr int kCount = 54;
    static constexpr int kDefault = 6;

    CountryCode() = default;
    CountryCode(int nCode) : m_nCode(nCode) {}
    operator int() const { return m_nCode; }

    // From an identification name ("PTT GERMAN") or a file code ("DE"), any case (letters a-z).
    // True when found; the value is left unchanged otherwise.
    bool SetFromName(const char* pszName);
    bool SetFromFileCode(const char* pszFileCode);

    // "Germany"; "Unknown" for a code outside the table.
    const char* DisplayName() const;
    // "PTT GERMAN"; "" for a code outside the table.
    const char* IdentificationName() const;
    // "DE"; "" when the country has no file code or the code is outside the table.
    const char* FileCode() const;

private:
    int m_nCode = kDefault;
};

#endif
