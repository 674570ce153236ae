// Regexp2: compile errors, matching from offset 0 over the whole subject, and the recorded groups.
#include <gtest/gtest.h>

#include "country/PortWriter/Regexp2.h"

namespace {

TEST(Regexp2Test, RecordsWholeMatchAndGroups) {
    Regexp2 re("Version ([0-9]+)\\.([0-9]+)");
    EXPECT_EQ(re.CaptureCount(), 2);
    ASSERT_TRUE(re.Match("ATI3\r\nVersion 3.14 build\r\nOK"));
    EXPECT_EQ(re.SubstringCount(), 3);
    EXPECT_EQ(re.Substring(0), "Version 3.14");
    EXPECT_EQ(re.Substring(1), "3");
    EXPECT_EQ(re.Substring(2), "14");
}

TEST(Regexp2Test, GroupsAfterTheLastOneSetAreNotRecorded) {
    Regexp2 re("(a)|(b)");
    ASSERT_TRUE(re.Match("xa"));
    EXPECT_EQ(re.SubstringCount(), 2);
    EXPECT_EQ(re.Substring(1), "a");
    EXPECT_THROW(re.Substring(2), Regexp2::exception);
    ASSERT_TRUE(re.Match("b"));
    EXPECT_EQ(re.SubstringCount(), 3);
    EXPECT_EQ(re.Substring(1), "");  // took no part
    EXPECT_EQ(re.Substring(2), "b");
}

TEST(Regexp2Test, NoMatchRecordsNothing) {
    Regexp2 re("OK");
    EXPECT_FALSE(re.Match("ERROR"));
    EXPECT_EQ(re.SubstringCount(), 0);
    try {
        re.Substring(0);
        FAIL() << "no exception";
    } catch (const Regexp2::exception& e) {
        EXPECT_STREQ(e.what(), "bad substring index");
    }
}

TEST(Regexp2Test, SubstringOutlivesTheSubjectItCameFrom) {
    Regexp2 re("C(.)D");
    {
        std::string subject = "xxCzDxx";
        ASSERT_TRUE(re.Match(subject));
        subject.assign(100, '#');
    }
    EXPECT_EQ(re.Substring(1), "z");
}

TEST(Regexp2Test, CompileErrorGivesPcreMessageAndThePatternFromTheErrorOn) {
    try {
        Regexp2 re("ab)cd");
        FAIL() << "compiled";
    } catch (const Regexp2::exception& e) {
        const std::string message = e.what();
        const std::string tail = " at: )cd";
        ASSERT_GT(message.size(), tail.size());
        EXPECT_EQ(message.substr(message.size() - tail.size()), tail) << message;
        EXPECT_NE(message.find("parenthesis"), std::string::npos) << message;
    }
    try {
        Regexp2 re("AB(");
        FAIL() << "compiled";
    } catch (const Regexp2::exception& e) {
        const std::string message = e.what();
        EXPECT_EQ(message.substr(message.size() - 5), " at: ") << message;
    }
}

TEST(Regexp2Test, UncompiledExpressionRefusesToMatch) {
    Regexp2 re;
    try {
        re.Match("x");
        FAIL() << "matched";
    } catch (const Regexp2::exception& e) {
        EXPECT_STREQ(e.what(), "match on unitialized expression");
    }
}

TEST(Regexp2Test, SubjectWithBytesAboveAsciiMatches) {
    Regexp2 re("\\xe9(..)");
    ASSERT_TRUE(re.Match(std::string("a\xe9zz", 4)));
    EXPECT_EQ(re.Substring(1), "zz");
}

}  // namespace
