// Identification of Lucent/Agere devices: the extended command set answers to one of three
// spellings ("AT&&F", "AT&&W" or "AT&&Z", depending on the chip's generation), and that spelling's
// flash query ("AT&&FFL"...) tells the flash part. The chip type and, on newer parts, the flash facts
// come from the ATI5 page (ati.5 in the device file).
//
// Device file keys:
//   family = ident-lucent
//   lucent.variant = 0, 1 or 2: which of F, W, Z the device accepts (default 0); -1 accepts none
//   lucent.flash   = answer to the flash query of its spelling (absent: the query says ERROR)
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

class LucentIdent : public modemsim::Dialogue {
 public:
  explicit LucentIdent(const modemsim::DeviceConfig& config) {
    long variant = config.getInt("lucent.variant", 0);
    letter_ = (variant >= 0 && variant <= 2) ? "FWZ"[variant] : '\0';
  }

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    const std::string command = upper(line);
    if (command.rfind("AT&&", 0) != 0) return false;
    const std::string rest = command.substr(4);
    if (letter_ != '\0' && rest == std::string(1, letter_)) {
      dev.ok();
      return true;
    }
    if (letter_ != '\0' && rest == std::string(1, letter_) + "FL" && dev.config().has("lucent.flash")) {
      dev.sendInfo(dev.config().get("lucent.flash"));
      dev.ok();
      return true;
    }
    // Another generation's spelling or a query this part does not answer: the basic modem says
    // ERROR, and a download dialogue later in the list still gets its own commands.
    return false;
  }

 private:
  char letter_;
};

const modemsim::DialogueRegistrar kRegistrar("ident-lucent", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<LucentIdent>(config);
});

}  // namespace
