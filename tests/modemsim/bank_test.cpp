// The bank, the GoogleTest fixture and the modemsim executable.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fixtures/sim_bank_fixture.h"
#include "modemsim/host_port.h"

namespace {

using modemsim_test::HostPort;

bool exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

TEST(Bank, NumbersPortsAndRefusesATakenOne) {
  modemsim::Bank bank;
  EXPECT_EQ(bank.add("port = 2\n").port(), 2);
  EXPECT_EQ(bank.add("").port(), 1);
  EXPECT_EQ(bank.add("").port(), 3);
  EXPECT_THROW(bank.add("port = 2\n"), modemsim::ConfigError);
  EXPECT_EQ(bank.find(4), nullptr);
  EXPECT_THROW(bank.device(4), std::out_of_range);
  EXPECT_EQ(bank.path(3), bank.dir() + "/COM3");
  EXPECT_EQ(modemsim::Bank::portName(12), "\\\\.\\COM12");
  EXPECT_FALSE(exists(bank.path(1)));  // nothing is linked before start()
}

// A device file whose Siemens speed list holds no number ("115200,iemens.block.3 = 04"): building the
// device let the number conversion's own exception out, which no caller of the bank expects.
const unsigned char kSiemensSpeedsWithoutANumber[] = {
    0x70, 0x6f, 0x72, 0x74, 0x20, 0x3d, 0x20, 0x31, 0x32, 0x0a, 0x6e, 0x61, 0x6d, 0x65, 0x20, 0x3d,
    0x20, 0x4d, 0x43, 0x37, 0x35, 0x20, 0x6d, 0x6f, 0x64, 0x75, 0x6c, 0x65, 0x0a, 0x66, 0x61, 0x6d,
    0x69, 0x6c, 0x79, 0x20, 0x3d, 0x20, 0x73, 0x69, 0x65, 0x6d, 0x65, 0x6e, 0x73, 0x0a, 0x73, 0x69,
    0x65, 0x6d, 0x65, 0x6e, 0x73, 0x2e, 0x73, 0x70, 0x65, 0x65, 0x64, 0x73, 0x20, 0x3d, 0x20, 0x31,
    0x31, 0x35, 0x32, 0x30, 0x30, 0x2c, 0x69, 0x65, 0x6d, 0x65, 0x6e, 0x73, 0x2e, 0x62, 0x6c, 0x6f,
    0x63, 0x6b, 0x2e, 0x33, 0x20, 0x3d, 0x20, 0x30, 0x34, 0x2c, 0x20, 0x30, 0x34, 0x2c, 0x30, 0x31,
    0x0a,
};

TEST(Bank, RefusesAFamilyKeyThatDoesNotReadAsADeviceFileError) {
  const std::string text(reinterpret_cast<const char*>(kSiemensSpeedsWithoutANumber),
                         sizeof kSiemensSpeedsWithoutANumber);
  const std::vector<modemsim::DeviceConfig> configs = modemsim::parseBank(text);
  ASSERT_EQ(configs.size(), 1u);
  struct Case {
    std::string speeds;
    bool accepted;
  };
  const Case cases[] = {
      {configs[0].get("siemens.speeds"), false},
      {"fast", false},
      {"115200, 99999999999999999999", false},
      {"115200, 57600", true},
  };
  for (const Case& c : cases) {
    modemsim::DeviceConfig config = configs[0];
    config.set("siemens.speeds", c.speeds);
    modemsim::Bank bank;
    if (c.accepted) {
      EXPECT_NO_THROW(bank.add(config)) << c.speeds;
      continue;
    }
    try {
      bank.add(config);
      ADD_FAILURE() << "accepted siemens.speeds = " << c.speeds;
    } catch (const modemsim::ConfigError& e) {
      EXPECT_NE(std::string(e.what()).find("siemens.speeds"), std::string::npos) << e.what();
      EXPECT_TRUE(bank.devices().empty());
    } catch (const std::exception& e) {
      ADD_FAILURE() << "siemens.speeds = " << c.speeds << " escaped as " << e.what();
    }
  }
}

TEST(Bank, LinksWhileRunningAndCleansUp) {
  std::string dir;
  {
    modemsim::Bank bank;
    dir = bank.dir();
    bank.addAll(modemsim::parseBank("[device COM1]\n[device COM4]\nspeed = 9600\n"));
    bank.start();
    EXPECT_TRUE(exists(bank.path(1)));
    EXPECT_TRUE(exists(bank.path(4)));
    char target[256] = {};
    ASSERT_GT(readlink(bank.path(4).c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), bank.device(4).slavePath());
    // A device added to a running bank starts at once.
    bank.add("port = 9\n");
    EXPECT_TRUE(exists(bank.path(9)));
    HostPort host(bank.path(9));
    ASSERT_TRUE(host.write("AT\r"));
    ASSERT_TRUE(host.readUntil("OK\r\n"));
    bank.stop();
    EXPECT_FALSE(exists(bank.path(1)));
    EXPECT_FALSE(exists(bank.path(9)));
  }
  EXPECT_FALSE(exists(dir));  // the directory it made itself is gone
}

TEST(Bank, GivenDirectoryIsRemovedOnlyWhenTheBankMadeIt) {
  char pattern[] = "/tmp/modemsim_given.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string made = std::string(pattern) + "/ports";
  {
    modemsim::Bank bank(made);
    bank.add("port = 1\n");
    bank.start();
    EXPECT_TRUE(exists(made + "/COM1"));
  }
  EXPECT_FALSE(exists(made));
  {
    modemsim::Bank bank(pattern);  // there before the bank
    bank.add("port = 1\n");
    bank.start();
    EXPECT_TRUE(exists(std::string(pattern) + "/COM1"));
  }
  EXPECT_FALSE(exists(std::string(pattern) + "/COM1"));
  EXPECT_TRUE(exists(pattern));
  std::ofstream(made) << "a file";
  EXPECT_THROW(modemsim::Bank bank(made), std::runtime_error);
  unlink(made.c_str());
  rmdir(pattern);
}

TEST(Bank, TranscriptsNameEveryDevice) {
  modemsim::Bank bank;
  bank.add("port = 1\nname = first\n");
  bank.add("port = 2\n");
  bank.start();
  {
    HostPort host(bank.path(2));
    ASSERT_TRUE(host.write("ATI\r"));
    ASSERT_TRUE(host.readUntil("ERROR\r\n"));
  }
  std::string text = bank.transcripts();
  EXPECT_NE(text.find("---- COM1 (first) ----"), std::string::npos) << text;
  EXPECT_NE(text.find("---- COM2 ----"), std::string::npos) << text;
  // Every byte each way in order: the echo follows each byte heard.
  EXPECT_NE(text.find("host> A"), std::string::npos) << text;
  EXPECT_LT(text.find("host> A"), text.find("dev<  A")) << text;
  EXPECT_NE(text.find("ERROR\\r\\n"), std::string::npos) << text;
  EXPECT_EQ(bank.device(2).transcript().bytes(modemsim::Transcript::Direction::kToHost), "ATI\r\r\nERROR\r\n");
  EXPECT_EQ(bank.device(2).transcript().bytes(modemsim::Transcript::Direction::kFromHost), "ATI\r");
}

TEST(SimBankFixture, PointsSerialPortsDirAtTheBankAndRestoresIt) {
  setenv("SERIAL_PORTS_DIR", "/before", 1);
  {
    modemsim_testing::SimBank sim;
    EXPECT_EQ(std::string(std::getenv("SERIAL_PORTS_DIR")), sim.bank().dir());
    sim.addDevice("port = 5\n");
    EXPECT_TRUE(exists(std::string(std::getenv("SERIAL_PORTS_DIR")) + "/COM5"));
  }
  EXPECT_EQ(std::string(std::getenv("SERIAL_PORTS_DIR")), "/before");
  unsetenv("SERIAL_PORTS_DIR");
  { modemsim_testing::SimBank sim; }
  EXPECT_EQ(std::getenv("SERIAL_PORTS_DIR"), nullptr);
}

TEST(TimeScale, ReadsTheEnvironmentAndFallsBackToOne) {
  const struct {
    const char* value;
    double scale;
  } cases[] = {{"0.5", 0.5}, {"2", 2.0}, {"0", 1.0}, {"-3", 1.0}, {"fast", 1.0}, {"", 1.0}, {"1.5x", 1.0}};
  for (const auto& c : cases) {
    modemsim_testing::ScopedEnv env("SUITE_TIME_SCALE", c.value);
    EXPECT_DOUBLE_EQ(modemsim::timeScale(), c.scale) << c.value;
  }
  modemsim_testing::ScopedEnv env("SUITE_TIME_SCALE", "0.25");
  EXPECT_EQ(modemsim::scaledMs(1000), 250);
  EXPECT_EQ(modemsim::scaledMs(-5), 0);
}

// The executable: prints the directory, serves the devices, cleans up on SIGTERM.
TEST(ModemsimExecutable, ServesABankUntilTerminated) {
  char pattern[] = "/tmp/modemsim_exe.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string device_file = std::string(pattern) + "/bank.txt";
  std::ofstream(device_file) << "ati.0 = 56000\n[device COM2]\necho = off\n";

  int out[2];
  ASSERT_EQ(pipe(out), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    std::string exe = std::string(SUITE_BIN_DIR) + "/modemsim";
    execl(exe.c_str(), exe.c_str(), device_file.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  FILE* output = fdopen(out[0], "r");
  char line[512] = {};
  ASSERT_NE(fgets(line, sizeof line, output), nullptr);  // blocks until the bank is up
  std::string first(line);
  ASSERT_EQ(first.compare(0, 17, "SERIAL_PORTS_DIR="), 0) << first;
  std::string dir = first.substr(17, first.find('\n') - 17);
  {
    HostPort host(dir + "/COM2");
    ASSERT_TRUE(host.isOpen());
    ASSERT_TRUE(host.write("ATI0\r"));
    ASSERT_TRUE(host.readUntil("OK\r\n"));
    EXPECT_EQ(host.received(), "\r\n56000\r\n\r\nOK\r\n");
  }
  kill(pid, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_FALSE(exists(dir));
  fclose(output);
  unlink(device_file.c_str());
  rmdir(pattern);
}

TEST(ModemsimExecutable, RefusesABadDeviceFile) {
  char pattern[] = "/tmp/modemsim_bad.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string device_file = std::string(pattern) + "/bad.txt";
  std::ofstream(device_file) << "speed = fast\n";
  std::string command = std::string(SUITE_BIN_DIR) + "/modemsim " + device_file + " 2>/dev/null";
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  unlink(device_file.c_str());
  rmdir(pattern);
}

// Runs modemsim with the arguments; its process id and its first line of output ("" when it ended
// without one).
struct RunningModemsim {
  pid_t pid = -1;
  std::string first_line;
};

RunningModemsim StartModemsim(const std::vector<std::string>& arguments) {
  RunningModemsim run;
  int out[2];
  if (pipe(out) != 0) return run;
  std::string exe = std::string(SUITE_BIN_DIR) + "/modemsim";
  std::vector<std::string> args = {exe};
  args.insert(args.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  run.pid = fork();
  if (run.pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDERR_FILENO);
    close(out[0]);
    close(out[1]);
    execv(exe.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  FILE* output = fdopen(out[0], "r");
  char line[512] = {};
  if (fgets(line, sizeof line, output) != nullptr) run.first_line = line;
  fclose(output);
  return run;
}

int WaitForExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(ModemsimExecutable, RemovesTheDirectoryItMadeWhenStopped) {
  char pattern[] = "/tmp/modemsim_dir.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string device_file = std::string(pattern) + "/modem.txt";
  std::ofstream(device_file) << "port = 3\n";
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    std::string dir = std::string(pattern) + "/ports";
    RunningModemsim run = StartModemsim({"--dir", dir, device_file});
    ASSERT_GT(run.pid, 0);
    EXPECT_EQ("SERIAL_PORTS_DIR=" + dir + "\n", run.first_line) << signal_number;
    EXPECT_TRUE(exists(dir + "/COM3")) << signal_number;
    kill(run.pid, signal_number);
    EXPECT_EQ(0, WaitForExit(run.pid)) << signal_number;
    EXPECT_FALSE(exists(dir)) << signal_number;
  }
  unlink(device_file.c_str());
  rmdir(pattern);
}

TEST(ModemsimExecutable, RefusesADirectoryAsDeviceFileAndLeavesNoDirectoryBehind) {
  char pattern[] = "/tmp/modemsim_dirfile.XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  std::string dir = std::string(pattern) + "/ports";
  // Should it take the directory for a device after all, it would serve until stopped: the time limit ends
  // it then, with exit code 0.
  std::string command = "timeout -s TERM 20 " + std::string(SUITE_BIN_DIR) + "/modemsim --dir " + dir + " " +
                        pattern + " >/dev/null 2>" + pattern + "/stderr.txt";
  int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  std::ifstream in(std::string(pattern) + "/stderr.txt");
  std::string message((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ("modemsim: device file " + std::string(pattern) + " is a directory\n", message);
  EXPECT_FALSE(exists(dir));
  unlink((std::string(pattern) + "/stderr.txt").c_str());
  rmdir(pattern);
}

}  // namespace
