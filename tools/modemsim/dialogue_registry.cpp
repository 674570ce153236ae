#include <cctype>
#include <map>
#include <mutex>

#include "tools/modemsim/device_config.h"
#include "tools/modemsim/dialogue.h"

namespace modemsim {
namespace {

struct Registry {
  std::mutex mutex;
  std::map<std::string, DialogueFactory> factories;
};

// A function-local static: registrars in other translation units may run before anything here.
Registry& registry() {
  static Registry instance;
  return instance;
}

std::string lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void registerDialogue(const std::string& name, DialogueFactory factory) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.factories[lower(name)] = std::move(factory);
}

std::unique_ptr<Dialogue> createDialogue(const std::string& name, const DeviceConfig& config) {
  DialogueFactory factory;
  {
    Registry& r = registry();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.factories.find(lower(name));
    if (it == r.factories.end()) return nullptr;
    factory = it->second;
  }
  return factory(config);
}

bool isDialogueRegistered(const std::string& name) {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.factories.count(lower(name)) != 0;
}

std::vector<std::string> registeredDialogues() {
  Registry& r = registry();
  std::lock_guard<std::mutex> lock(r.mutex);
  std::vector<std::string> names;
  for (const auto& entry : r.factories) names.push_back(entry.first);
  return names;
}

}  // namespace modemsim
