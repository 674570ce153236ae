// modem.ini beside the executable: the record of every successful configuration, one section per port.
#pragma once

#include <string>

struct ModemIniRecord {
    int portNumber = 0;
    std::string modelName;
    std::string countryName;
    std::string countryCodeHex;
    int commandSet = 0;
};

// Writes the port's section (ModelName, CountryName, CountryCode, CommandSetName, CommandSet, CommPort,
// in that order), keeping every other section and key of an existing file; false when it cannot be
// written, with the reason in error (when given).
bool WriteModemIniRecord(const ModemIniRecord& record, std::string* error = nullptr);
