#include "country/config/modem_ini.h"

#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "country/config/private_profile.h"

bool WriteModemIniRecord(const ModemIniRecord& record, std::string* error)
{
    return ProfileWriteStrings(FileBesideExecutable("modem.ini"), std::to_string(record.portNumber),
                               {
                                   {"ModelName", record.modelName},
                                   {"CountryName", record.countryName},
                                   {"CountryCode", record.countryCodeHex},
                                   {"CommandSetName", CommandSetName(record.commandSet)},
                                   {"CommandSet", std::to_string(record.commandSet)},
                                   {"CommPort", std::to_string(record.portNumber)},
                               },
                               error);
}
