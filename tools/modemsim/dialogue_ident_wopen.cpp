// Identification of devices with an embedded application platform: they accept "AT+WOPEN=1" and
// name model and version through "AT#MMODEL" and "AT#VVERSION" instead of the ATI pages.
//
// Device file keys:
//   family = ident-wopen
//   wopen.mmodel   = answer to AT#MMODEL   (default "#MMODEL: " followed by `model`)
//   wopen.vversion = answer to AT#VVERSION (default "#VVERSION: VERSION " followed by `version`)
#include <cctype>
#include <memory>
#include <string>

#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"
#include "tools/modemsim/dialogue.h"

namespace {

std::string upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

class WopenIdent : public modemsim::Dialogue {
 public:
  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    const std::string command = upper(line);
    const modemsim::DeviceConfig& config = dev.config();
    if (command.rfind("AT+WOPEN=", 0) == 0) {
      dev.ok();
      return true;
    }
    if (command == "AT#MMODEL") {
      dev.sendInfo(config.get("wopen.mmodel", "#MMODEL: " + config.model));
      dev.ok();
      return true;
    }
    if (command == "AT#VVERSION") {
      dev.sendInfo(config.get("wopen.vversion", "#VVERSION: VERSION " + config.version));
      dev.ok();
      return true;
    }
    return false;
  }
};

const modemsim::DialogueRegistrar kRegistrar("ident-wopen", [](const modemsim::DeviceConfig&) {
  return std::make_unique<WopenIdent>();
});

}  // namespace
