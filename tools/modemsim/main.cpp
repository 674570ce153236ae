// modemsim: runs a bank of simulated devices until SIGINT, SIGTERM or SIGHUP.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "suite_version.h"
#include "tools/modemsim/modemsim.h"

namespace {

const char kHelp[] =
    "Usage: modemsim [--dir DIR] [--transcripts] DEVICE_FILE...\n"
    "       modemsim --version\n"
    "\n"
    "Runs simulated modems behind pseudo-terminals. Each device's port is linked as COM<n> in DIR\n"
    "(default: a fresh directory under $TMPDIR or /tmp). Prints SERIAL_PORTS_DIR=<dir> on the first\n"
    "line; point a program at the bank with that variable. Runs until SIGINT, SIGTERM or SIGHUP, then\n"
    "removes its links, and DIR too when it made it (also when it could not start). --transcripts\n"
    "prints every byte each way, with time stamps, on standard error when it stops.\n"
    "\n"
    "Device file (one device, or a bank file with one [device COMn] section per device;\n"
    "keys before the first section are defaults for every device):\n"
    "  # comment                     lines starting with '#' or ';'\n"
    "  key = value                   escapes \\r \\n \\t \\\\ \\xHH in values\n"
    "  key += value                  appends a new line to the value\n"
    "  port = 3                      COM number (default: next free)\n"
    "  name = text                   label in transcripts\n"
    "  speed = 115200                the speed the device runs at; the host must match it\n"
    "  echo = on | verbose = on | quiet = off     settings after power-on and ATZ\n"
    "  throttle = on                 send no faster than the line speed (10 bits a byte)\n"
    "  throttle_input = off          hear no faster than the line speed either\n"
    "  ati.N = text                  answer to ATIn (\\n or += for more lines); absent: ERROR\n"
    "  model, version, country, special_build     device facts for the family dialogues\n"
    "  family = name[, name...]      family dialogues (also 'dialogues'); registered: %s\n"
    "  flash.size = 0x80000          flash memory size (default unbounded)\n"
    "  fault.silent = on             hears, never answers\n"
    "  fault.garbage = on            every byte it sends is garbage\n"
    "  fault.delay_ms = N            each answer leaves N ms late\n"
    "  fault.disconnect_after = N    the line drops after N bytes heard (_tx: after N bytes sent)\n"
    "  fault.reconnect_ms = N        after a drop, the port comes back after N ms\n"
    "  fault.drop_every = N          every N-th byte is lost\n"
    "  fault.corrupt_every = N       every N-th byte is bit-flipped\n"
    "  fault.direction = to_host     which bytes drop/corrupt act on: to_host, from_host, both\n"
    "  fault.ignore = ATI5, AT%%I     command lines heard but never answered\n"
    "  fault.error = ATI3            command lines answered with ERROR\n"
    "  <family>.<key> = value        any other key, read by the family dialogues\n"
    "SUITE_TIME_SCALE multiplies every delay the simulator applies.\n";

void printHelp() {
  std::string names;
  for (const auto& n : modemsim::registeredDialogues()) names += (names.empty() ? "" : ", ") + n;
  std::printf(kHelp, names.empty() ? "none" : names.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir;
  std::vector<std::string> files;
  bool transcripts = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printHelp();
      return 0;
    }
    if (arg == "--version") {
      std::printf("modemsim " SUITE_VERSION "\n");
      return 0;
    }
    if (arg == "--transcripts") {
      transcripts = true;
    } else if (arg == "--dir") {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "modemsim: --dir needs a directory\n");
        return 2;
      }
      dir = argv[++i];
    } else if (arg.compare(0, 6, "--dir=") == 0) {
      dir = arg.substr(6);
    } else if (!arg.empty() && arg[0] == '-') {
      std::fprintf(stderr, "modemsim: unknown option %s (see --help)\n", arg.c_str());
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "modemsim: no device file given (see --help)\n");
    return 2;
  }

  // Block the stop signals before any device thread starts, so that only sigwait() takes them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGHUP);  // the terminal it ran in went away
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  try {
    modemsim::Bank bank(dir);
    for (const auto& file : files) bank.addAll(modemsim::loadBank(file));
    bank.start();
    std::printf("SERIAL_PORTS_DIR=%s\n", bank.dir().c_str());
    for (modemsim::Device* d : bank.devices())
      std::printf("COM%d -> %s  speed %ld%s%s\n", d->port(), d->slavePath().c_str(), d->config().speed,
                  d->config().name.empty() ? "" : "  ", d->config().name.c_str());
    std::fflush(stdout);
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    bank.stop();
    if (transcripts) std::fprintf(stderr, "%s", bank.transcripts().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "modemsim: %s\n", e.what());
    return 1;
  }
  return 0;
}
