// The sorted image's temporary file: private, unique, in the system temporary directory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>
#include <string>

#include "fixtures/sim_bank_fixture.h"
#include "flash_test_util.h"
#include "ravelin/flash/flsh_tempfile.h"

namespace {

TEST(TempFile, PrivateUniqueAndInTheTemporaryDirectory)
{
    flashtest::TempDir dir;
    modemsim_testing::ScopedEnv tmp("TMPDIR", dir.path());
    std::set<std::string> names;
    for (int i = 0; i < 20; ++i) {
        char path[512];
        ASSERT_EQ(1, flsh_MakeTempFile(path, sizeof path));
        EXPECT_EQ(0u, std::string(path).find(dir.path() + "/"));
        struct stat st {};
        ASSERT_EQ(0, stat(path, &st));
        EXPECT_EQ(0600u, st.st_mode & 0777u);
        EXPECT_EQ(0, st.st_size);
        EXPECT_TRUE(names.insert(path).second);
    }
    char small[8];
    EXPECT_EQ(0, flsh_MakeTempFile(small, sizeof small));
}

} // namespace
