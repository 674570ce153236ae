// Family dialogues: what a device of a given chip family says beyond the basic AT modem
// (identification answers, the flash loader, chip download protocols, country command sets).
//
// A dialogue lives in its own .cpp in tools/modemsim and registers itself with a static registrar:
//
//   namespace {
//   class RockwellIdent : public modemsim::Dialogue {
//     bool onCommand(modemsim::Device& dev, const std::string& line) override {
//       if (line != "AT#MMODEL") return false;       // not ours: the next dialogue or the basic modem
//       dev.sendInfo(dev.config().get("ident.model"));
//       dev.ok();
//       return true;
//     }
//   };
//   const modemsim::DialogueRegistrar kRegistrar("rockwell", [](const modemsim::DeviceConfig&) {
//     return std::make_unique<RockwellIdent>();
//   });
//   }  // namespace
//
// and a device file names it: "family = rockwell" (or "dialogues = rockwell, loader").
// All callbacks run on the device's own thread, one at a time, so a dialogue needs no locks of its own.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace modemsim {

class Device;
struct DeviceConfig;

class Dialogue {
 public:
  virtual ~Dialogue() = default;

  // The line is up: after power-on and after every reboot. Device state (flash, country) persists.
  virtual void onStart(Device& dev) {}

  // Each byte the device hears, before the AT line editor sees it. Return true to consume it (no echo,
  // no command line). While a dialogue holds the stream (Device::takeStream), only it gets the bytes,
  // and its return value does not matter.
  virtual bool onByte(Device& dev, uint8_t byte) { return false; }

  // A complete command line: starts with "AT" (as typed, any case), without the closing CR.
  // Return true when this dialogue answered it; false hands it on to the next dialogue and finally to
  // the basic modem, which says "ERROR" to anything it does not know.
  virtual bool onCommand(Device& dev, const std::string& line) { return false; }

  // The timer set with Device::setTimer has run out.
  virtual void onTimer(Device& dev) {}

  // The host went away while the device kept running: it closed its last descriptor of the port, or
  // the line was lost and has come back (called once the new line is up). A real device cannot tell,
  // but a dialogue that models what the user does next (switching the device off and on) can.
  virtual void onHostGone(Device& dev) {}
};

using DialogueFactory = std::function<std::unique_ptr<Dialogue>(const DeviceConfig&)>;

// Registry of dialogue families by name (case-insensitive). A second registration of a name replaces it.
void registerDialogue(const std::string& name, DialogueFactory factory);
// nullptr when no dialogue of that name is registered (a factory may also return nullptr).
std::unique_ptr<Dialogue> createDialogue(const std::string& name, const DeviceConfig& config);
bool isDialogueRegistered(const std::string& name);
std::vector<std::string> registeredDialogues();

// Registers a dialogue at static initialisation time: one object of this per dialogue .cpp.
struct DialogueRegistrar {
  DialogueRegistrar(const char* name, DialogueFactory factory) { registerDialogue(name, std::move(factory)); }
};

}  // namespace modemsim
