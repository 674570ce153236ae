// The rules file's text: what is read as a rule of ours, what is kept as it is, and how it is written
// back. Pure text, no test bed needed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/serial-discovery/disc_rules.h"

namespace {

TEST(RulesTextTest, ReadsOurRulesAndKeepsEveryOtherLine)
{
    struct Case {
        const char *line;
        int com;             // 0: no rule of ours (kept in the preamble)
        bool understood;     // matched against ports
        const char *idPath, *portNumber, *kernel, *serial, *iface;
    };
    const Case cases[] = {
        {"SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"pci-0000:00:14.0-usb-0:2:1.0\", ATTRS{port_number}==\"0\", "
         "SYMLINK+=\"serial/com/COM6\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"",
         6, true, "pci-0000:00:14.0-usb-0:2:1.0", "0", "", "", ""},
        {"SUBSYSTEM==\"tty\", ENV{ID_SERIAL_SHORT}==\"A50285BI\", ENV{ID_USB_INTERFACE_NUM}==\"00\", "
         "SYMLINK+=\"serial/com/COM12\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"",
         12, true, "", "", "", "A50285BI", "00"},
        {"SUBSYSTEM==\"tty\", KERNEL==\"ttyS4\", SYMLINK+=\"serial/com/COM20\"", 20, true, "", "", "ttyS4", "", ""},
        // Another link beside ours counts: the number is ours.
        {"KERNEL==\"ttyS4\", SYMLINK+=\"modem serial/com/COM21\"", 21, true, "", "", "ttyS4", "", ""},
        // Keys of its own, or patterns: kept, its number held, never matched.
        {"SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"1a86\", SYMLINK+=\"serial/com/COM2\"", 2, false, "", "", "", "", ""},
        {"KERNEL==\"ttyUSB*\", SYMLINK+=\"serial/com/COM9\"", 9, false, "", "", "", "", ""},
        {"SUBSYSTEM==\"tty\", SYMLINK+=\"serial/com/COM3\"", 3, false, "", "", "", "", ""},
        // No COM link of ours: not a rule of ours at all.
        {"SUBSYSTEM==\"tty\", KERNEL==\"ttyS*\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"", 0, true, "", "", "", "", ""},
        {"SUBSYSTEM==\"tty\", SYMLINK+=\"serial/com/COMX\"", 0, true, "", "", "", "", ""},
        {"ACTION==\"remove\", GOTO=\"end\"", 0, true, "", "", "", "", ""},
        {"LABEL=\"end\"", 0, true, "", "", "", "", ""},
    };
    for (const Case &c : cases) {
        DiscRules rules = disc_ParseRules(std::string(c.line) + "\r\n");
        if (c.com == 0) {
            EXPECT_TRUE(rules.rules.empty()) << c.line;
            EXPECT_EQ(std::vector<std::string>{c.line}, rules.preamble) << c.line;
            continue;
        }
        ASSERT_EQ(1u, rules.rules.size()) << c.line;
        const DiscRule &r = rules.rules[0];
        EXPECT_EQ(c.com, r.com) << c.line;
        EXPECT_EQ(c.understood, r.bUnderstood) << c.line;
        if (!c.understood) {
            EXPECT_EQ(c.line, disc_RuleLine(r)) << "written back as it was";
            continue;
        }
        EXPECT_EQ(c.idPath, r.idPath) << c.line;
        EXPECT_EQ(c.portNumber, r.portNumber) << c.line;
        EXPECT_EQ(c.kernel, r.kernel) << c.line;
        EXPECT_EQ(c.serial, r.serial) << c.line;
        EXPECT_EQ(c.iface, r.usbInterface) << c.line;
    }
}

TEST(RulesTextTest, CommentsGoWithTheirRuleAndRulesAreWrittenInTheOrderOfTheirNumbers)
{
    const std::string text =
        "# header of the bench\n"
        "\n"
        "# COM7: the modem\n"
        "SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"p3\", SYMLINK+=\"serial/com/COM7\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
        "\n"
        "# COM2: first adapter\n"
        "# (bought 2019)\n"
        "SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"p1\", SYMLINK+=\"serial/com/COM2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
        "# a remark at the end\n";
    DiscRules rules = disc_ParseRules(text);
    ASSERT_EQ(2u, rules.rules.size());
    EXPECT_EQ(2, rules.rules[0].com);
    EXPECT_EQ((std::vector<std::string>{"# COM2: first adapter", "# (bought 2019)"}), rules.rules[0].comments);
    EXPECT_EQ((std::vector<std::string>{"# header of the bench", "", "# a remark at the end"}), rules.preamble)
        << "the blank lines between rules are not kept: a rewrite would add them again";
    EXPECT_EQ("# header of the bench\n"
              "\n"
              "# a remark at the end\n"
              "\n"
              "# COM2: first adapter\n"
              "# (bought 2019)\n"
              "SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"p1\", SYMLINK+=\"serial/com/COM2\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n"
              "\n"
              "# COM7: the modem\n"
              "SUBSYSTEM==\"tty\", ENV{ID_PATH}==\"p3\", SYMLINK+=\"serial/com/COM7\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"\n",
              disc_RenderRules(rules));
    // Read again, the same file comes out: a run that changes nothing changes no byte.
    EXPECT_EQ(disc_RenderRules(rules), disc_RenderRules(disc_ParseRules(disc_RenderRules(rules))));
    // Taking a number out takes its comment with it.
    EXPECT_EQ(1, disc_RemoveNumber(&rules, 2));
    EXPECT_EQ(std::string::npos, disc_RenderRules(rules).find("first adapter"));
    EXPECT_EQ(0, disc_RemoveNumber(&rules, 2));
}

TEST(RulesTextTest, ASocketRuleTellsApartTheLinesOfOneSocketWithoutPortNumbers)
{
    // Two ports of one card function: the same ID_PATH and no port numbers.
    DiscPort a, b, single;
    a.kernel = "ttyS4";
    b.kernel = "ttyS5";
    a.idPath = b.idPath = "pci-0000:03:00.0";
    single.kernel = "ttyUSB0";
    single.idPath = "pci-0000:00:14.0-usb-0:2:1.0";
    single.portNumber = "0";
    std::vector<DiscPort> ports = {a, b, single};
    DiscRule ruleA = disc_MakeRule(a, 9, false, ports, nullptr);
    EXPECT_EQ("ttyS4", ruleA.kernel);
    EXPECT_TRUE(disc_RuleMatches(ruleA, a));
    EXPECT_FALSE(disc_RuleMatches(ruleA, b));
    DiscRule ruleSingle = disc_MakeRule(single, 10, false, ports, nullptr);
    EXPECT_EQ("", ruleSingle.kernel) << "the socket alone names it: the kernel name may change";
    // Without ID_PATH (a port udev gives none) its kernel name is all there is.
    DiscPort bare;
    bare.kernel = "ttyAMA0";
    EXPECT_EQ("SUBSYSTEM==\"tty\", KERNEL==\"ttyAMA0\", SYMLINK+=\"serial/com/COM11\", ENV{ID_MM_DEVICE_IGNORE}=\"1\"",
              disc_RuleLine(disc_MakeRule(bare, 11, false, {bare}, nullptr)));
}

}  // namespace
