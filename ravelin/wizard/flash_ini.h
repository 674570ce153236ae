// Flash.ini beside the executable: the developers page's last settings, section "Flash".
#pragma once

#include <string>
#include <vector>

constexpr const char *wiz_kFlashIniSection = "Flash";

// What the developers page restores, with the defaults of a missing or empty entry.
struct FlashIniSettings {
    std::string hexFile;                  // "HexFile", default empty
    std::string speed = "115200";         // "Baud Rate"
    std::string model = "KX-TA1";         // "Model"
    std::vector<std::string> ports;       // "Port1" ... "Port<NumPorts>", each default "COM1"
};

// The path of Flash.ini in the executable's directory: the file whose name matches without regard
// to case (the exact name first), else the exact name.
std::string wiz_FlashIniPath();

// Reads the file (created empty when missing) and drops it from the profile cache afterwards, so
// that the next read sees the file again.
FlashIniSettings wiz_ReadFlashIni(const std::string &path);

// Writes the entries of a successful Next, in this order: BootCode, Baud Rate, Model, HexFile,
// NumPorts and Port1 ... PortN; then drops the file from the profile cache. False when the file
// could not be written, with what the user is told in *pError (when given).
bool wiz_WriteFlashIni(const std::string &path, bool bBootCode, int nSpeed, const std::string &model,
                       const std::string &hexFile, const std::vector<std::string> &ports,
                       std::string *pError = nullptr);
