// Country command sets of the two chip families that the country program configures. Each family
// answers "OK" to its own country commands and keeps the country it was set to in the device state,
// so a test sees what the modem holds afterwards. Identification needs nothing of its own: "ATV1",
// "ATI" and "ATI1" to "ATI4" are the basic modem's, answered from the device file's ati.N keys.
//
//   family = country-agere      AT&G, AT&G1 and AT%T19,0,<hex code>   (AT&F&W: the basic modem)
//   family = country-conexant   AT*NC<decimal code> and AT+GCI=<hex code>   (AT&F&W&W1, ATZ: basic)
//
// Device state after a country command: state().country() is the code as the command gave it ("b5" or
// "181"); the value "country.command" is the whole command line that set it.
//
// Device file keys:
//   country.fail_after = n   the modem answers the first n commands from its country command on, then
//                            stops answering altogether (no echo, no result), as a modem that hangs in
//                            the middle of the sequence
//   country.refuse = yes     country commands are answered "ERROR" (a modem of another family)
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

bool startsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

class CountryDialogue : public modemsim::Dialogue {
 public:
  explicit CountryDialogue(const modemsim::DeviceConfig& config)
      : fail_after_(config.getInt("country.fail_after", -1)), refuse_(config.getBool("country.refuse")) {}

  bool onByte(modemsim::Device& dev, uint8_t byte) override {
    return hung_;  // a hung modem hears nothing and says nothing
  }

  bool onCommand(modemsim::Device& dev, const std::string& line) override {
    if (hung_) return true;
    const std::string command = upper(line);
    const bool country = isCountryCommand(command);
    if (country) counting_ = true;
    if (counting_ && fail_after_ >= 0) {
      if (answered_ >= fail_after_) {
        hung_ = true;
        dev.takeStream(this);
        dev.transcript().note("country: stops answering");
        return true;
      }
      ++answered_;
    }
    if (country) {
      if (refuse_) {
        dev.error();
        return true;
      }
      dev.state().setCountry(codeOf(line));
      dev.state().setValue("country.command", line);
      dev.ok();
      return true;
    }
    return handleOther(dev, command);
  }

 protected:
  virtual bool isCountryCommand(const std::string& command) const = 0;
  // The code text of a country command line.
  virtual std::string codeOf(const std::string& line) const = 0;
  // The family's other commands; false hands the line on to the basic modem.
  virtual bool handleOther(modemsim::Device& dev, const std::string& command) { return false; }

 private:
  const long fail_after_;
  const bool refuse_;
  bool counting_ = false;
  long answered_ = 0;
  bool hung_ = false;
};

class AgereCountry : public CountryDialogue {
 public:
  using CountryDialogue::CountryDialogue;

 protected:
  bool isCountryCommand(const std::string& command) const override { return startsWith(command, "AT%T19,0,"); }
  std::string codeOf(const std::string& line) const override { return line.substr(9); }
  bool handleOther(modemsim::Device& dev, const std::string& command) override {
    // &G guards the country tables on some parts: AT&G opens them, AT&G1 closes them again.
    if (command == "AT&G" || command == "AT&G0" || command == "AT&G1") {
      dev.state().setValue("country.guard", command == "AT&G1" ? "closed" : "open");
      dev.ok();
      return true;
    }
    return false;
  }
};

class ConexantCountry : public CountryDialogue {
 public:
  using CountryDialogue::CountryDialogue;

 protected:
  bool isCountryCommand(const std::string& command) const override {
    return startsWith(command, "AT*NC") || startsWith(command, "AT+GCI=");
  }
  std::string codeOf(const std::string& line) const override {
    return line.substr(line[2] == '*' ? 5 : 7);
  }
};

const modemsim::DialogueRegistrar kAgere("country-agere", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<AgereCountry>(config);
});
const modemsim::DialogueRegistrar kConexant("country-conexant", [](const modemsim::DeviceConfig& config) {
  return std::make_unique<ConexantCountry>(config);
});

}  // namespace
