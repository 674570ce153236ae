// Identification of terminal adapters: the multi-port adapters report their line state with
// "AT%I", 0 when the adapter is ready.
//
// Device file keys:
//   family = ident-ta
//   ta.percent_i = answer to AT%I (absent: the adapter does not know the command and says ERROR)
#include <memory>
#include <string>

#include "tools/modemsim/device.h"
#include "tools/modemsim/device_config.h"
#include "tools/modemsim/dialogue.h"

namespace {

class TaIdent : public modemsim::Dialogue {
 public:
  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    if (line.size() != 4 || (line[3] != 'I' && line[3] != 'i') || line[2] != '%') return false;
    if (!dev.config().has("ta.percent_i")) return false;  // the basic modem's ERROR
    dev.sendInfo(dev.config().get("ta.percent_i"));
    dev.ok();
    return true;
  }
};

const modemsim::DialogueRegistrar kRegistrar("ident-ta", [](const modemsim::DeviceConfig&) {
  return std::make_unique<TaIdent>();
});

}  // namespace
