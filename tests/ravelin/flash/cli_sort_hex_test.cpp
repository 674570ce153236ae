// `ravelin-cli sort-hex` as users run it: the real executable on files in a private directory.
// What it leaves in IN and OUT when it fails, the reasons and warnings it gives, --strict, and
// standard input and output.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "flash_test_util.h"

using flashtest::crlfLines;
using flashtest::hexRecord;
using flashtest::readFile;
using flashtest::writeFile;

namespace {

struct RunResult {
    int exitCode = -1;
    std::string out, err;
};

class SortHexCli : public ::testing::Test {
protected:
    // Runs ravelin-cli with the arguments (shell words) and stdin from the file, or none.
    RunResult run(const std::string &args, const std::string &stdinFile = "/dev/null")
    {
        std::string out = logs.file("out.txt"), err = logs.file("err.txt");
        std::string command = "'" + std::string(SUITE_BIN_DIR) + "/ravelin-cli' " + args + " >'" + out + "' 2>'" +
                              err + "' <'" + stdinFile + "'";
        int status = std::system(command.c_str());
        RunResult result;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = readFile(out);
        result.err = readFile(err);
        return result;
    }

    std::string quoted(const std::string &path) const { return "'" + path + "'"; }

    std::vector<std::string> entries() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    flashtest::TempDir dir, logs;
};

// 8176 data records in one base: the sort fails only after it has read the whole file.
std::string tooManyRecords()
{
    std::vector<std::string> lines;
    for (int i = 0; i < 8176; ++i)
        lines.push_back(hexRecord(0, static_cast<std::uint32_t>(8175 - i) * 2, {0x11, 0x22}));
    lines.push_back(":00000001FF");
    return crlfLines(lines);
}

TEST_F(SortHexCli, ALateFailureLeavesInAndOutAsTheyWere)
{
    std::string in = dir.file("IN.HEX"), out = dir.file("OUT.HEX");
    const std::string image = tooManyRecords();
    writeFile(in, image);

    // Sorting a file onto itself.
    RunResult self = run("sort-hex " + quoted(in) + " " + quoted(in));
    EXPECT_EQ(11, self.exitCode);
    EXPECT_EQ("Error sorting the .hex file\n" + in + ":8176: too many records in one block (at most 8175)\n",
              self.err);
    EXPECT_EQ(image, readFile(in)) << "the input must survive a failed sort onto itself";

    // An OUT that held something before.
    writeFile(out, "previous output\r\n");
    RunResult other = run("sort-hex " + quoted(in) + " " + quoted(out));
    EXPECT_EQ(11, other.exitCode);
    EXPECT_EQ("previous output\r\n", readFile(out));
    EXPECT_EQ((std::vector<std::string>{"IN.HEX", "OUT.HEX"}), entries()) << "no temporary file left behind";

    // Once the image can be sorted, sorting it onto itself replaces it with the sorted image.
    std::string a = hexRecord(0, 0x20, {1}), b = hexRecord(0, 0x10, {2});
    writeFile(in, crlfLines({a, b, ":00000001FF"}));
    RunResult sorted = run("sort-hex " + quoted(in) + " " + quoted(in));
    ASSERT_EQ(0, sorted.exitCode) << sorted.err;
    EXPECT_EQ(crlfLines({":020000020000FC", b, a, ":00000001FF"}), readFile(in));
    EXPECT_EQ((std::vector<std::string>{"IN.HEX", "OUT.HEX"}), entries());
}

TEST_F(SortHexCli, EveryFailureSaysWhichFileWhichLineAndWhat)
{
    std::string in = dir.file("in.hex"), out = dir.file("out.hex");
    std::string data = hexRecord(0, 0, {1, 2, 3, 4});
    std::string manyBases;
    for (int b = 0; b < 65; ++b) manyBases += hexRecord(4, 0, {0, static_cast<std::uint8_t>(b)}) + "\r\n";
    struct Case {
        const char *what;
        std::string input;   // written to IN unless empty
        std::string outArg;  // OUT as given
        std::string reason;  // the second line, with IN and OUT standing for the paths
    } cases[] = {
        {"missing input", "", "OUT", "IN: cannot open: No such file or directory"},
        {"not a record", crlfLines({data, "garbage that is long enough"}), "OUT", "IN:2: not a record"},
        {"too many address blocks", manyBases, "OUT", "IN:65: too many address blocks (at most 64)"},
        {"line too long", crlfLines({data, data + std::string(100, '0')}), "OUT",
         "IN:2: line too long (at most 100 characters with its line end)"},
        {"cannot write", crlfLines({data}), "NODIR", "NODIR: cannot write: No such file or directory"},
    };
    for (const Case &c : cases) {
        std::filesystem::remove(in);
        if (!c.input.empty()) writeFile(in, c.input);
        std::string outPath = c.outArg == "OUT" ? out : dir.file("no-such-dir/out.hex");
        RunResult result = run("sort-hex " + quoted(in) + " " + quoted(outPath));
        std::string reason = c.reason;
        std::size_t at = reason.find(c.outArg == "OUT" ? "IN" : "NODIR");
        reason.replace(at, c.outArg == "OUT" ? 2 : 5, c.outArg == "OUT" ? in : outPath);
        EXPECT_EQ(11, result.exitCode) << c.what;
        EXPECT_EQ("Error sorting the .hex file\n" + reason + "\n", result.err) << c.what;
        EXPECT_FALSE(flashtest::fileExists(out)) << c.what;
    }
}

TEST_F(SortHexCli, WarningsCarryLineNumbersAndStrictTurnsThemIntoFailures)
{
    std::string in = dir.file("in.hex"), out = dir.file("out.hex");
    std::string a = hexRecord(0, 0x10, {1, 2}), b = hexRecord(0, 0x00, {3});
    std::string badSum = a;
    badSum.back() = badSum.back() == '0' ? '1' : '0';
    writeFile(in, crlfLines({hexRecord(5, 0, {0, 0, 1, 2}), badSum, b, ":00000001FF", a + "x"}));
    const std::string warnings = in + ":1: warning: start address record, left out\n" + in +
                                 ":2: warning: checksum does not match, record kept as it is\n" + in +
                                 ":5: warning: not a well-formed record, kept as it is\n";

    RunResult lenient = run("sort-hex " + quoted(in) + " " + quoted(out));
    EXPECT_EQ(0, lenient.exitCode);
    EXPECT_EQ(warnings, lenient.err);
    EXPECT_EQ(crlfLines({":020000020000FC", b, badSum, a + "x", ":00000001FF"}), readFile(out));

    writeFile(out, "before\r\n");
    RunResult strict = run("sort-hex --strict " + quoted(in) + " " + quoted(out));
    EXPECT_EQ(11, strict.exitCode);
    EXPECT_EQ(warnings + "Error sorting the .hex file\n" + in + ": 3 warnings with --strict: " + out +
                  " left unchanged\n",
              strict.err);
    EXPECT_EQ("before\r\n", readFile(out));

    // A clean image passes --strict.
    writeFile(in, crlfLines({a, b, ":00000001FF"}));
    RunResult clean = run("sort-hex " + quoted(in) + " --strict " + quoted(out));
    EXPECT_EQ(0, clean.exitCode) << clean.err;
    EXPECT_EQ(crlfLines({":020000020000FC", b, a, ":00000001FF"}), readFile(out));
}

TEST_F(SortHexCli, DashIsStandardInputAndOutput)
{
    std::string in = dir.file("in.hex"), out = dir.file("out.hex");
    std::string a = hexRecord(0, 0x20, {1}), b = hexRecord(0, 0x10, {2});
    std::string sorted = crlfLines({":020000020000FC", b, a, ":00000001FF"});
    // LF line ends, as a pipe from another tool may well give them.
    writeFile(in, a + "\n" + b + "\n:00000001FF\n");

    RunResult both = run("sort-hex - -", in);
    ASSERT_EQ(0, both.exitCode) << both.err;
    EXPECT_EQ(sorted, both.out);
    RunResult fromStdin = run("sort-hex - " + quoted(out), in);
    ASSERT_EQ(0, fromStdin.exitCode) << fromStdin.err;
    EXPECT_EQ(sorted, readFile(out));
    RunResult toStdout = run("sort-hex " + quoted(in) + " -");
    ASSERT_EQ(0, toStdout.exitCode) << toStdout.err;
    EXPECT_EQ(sorted, toStdout.out);

    // A failure writes nothing to standard output, and names standard input as the file.
    writeFile(in, crlfLines({a, hexRecord(7, 0, {1})}));
    RunResult failed = run("sort-hex - -", in);
    EXPECT_EQ(11, failed.exitCode);
    EXPECT_EQ("", failed.out);
    EXPECT_EQ("Error sorting the .hex file\nstandard input:2: not a record\n", failed.err);
}

TEST_F(SortHexCli, UsageErrors)
{
    EXPECT_EQ(2, run("sort-hex only-one").exitCode);
    EXPECT_EQ(2, run("sort-hex a b c").exitCode);
    EXPECT_EQ(2, run("sort-hex --lenient a b").exitCode);
    RunResult help = run("sort-hex --help");
    EXPECT_EQ(0, help.exitCode);
    EXPECT_NE(std::string::npos, help.out.find("--strict"));
}

} // namespace
