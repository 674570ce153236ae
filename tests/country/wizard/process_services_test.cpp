#include "country/wizard/process_services.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(ProcessServices, TheRecordingFakeWritesOneLinePerRequest)
{
    std::string directory = (std::filesystem::temp_directory_path() / "country-requests-XXXXXX").string();
    ASSERT_NE(nullptr, mkdtemp(directory.data()));
    const std::string record = directory + "/requests.txt";
    auto services = MakeRecordingProcessServices(record);
    EXPECT_TRUE(services->StartProgram("/opt/x/Meridia", "-t"));
    EXPECT_TRUE(services->OpenWithViewer("/opt/x/Help.txt"));
    EXPECT_TRUE(services->ForcePowerOff());
    EXPECT_EQ("start /opt/x/Meridia -t\nopen /opt/x/Help.txt\npoweroff\n", ReadAll(record));
    std::filesystem::remove_all(directory);
}

TEST(ProcessServices, TheRealServicesRefuseToStartAProgramThatIsNotThere)
{
    const char* fake = std::getenv(kFakeProcessServicesVariable);
    ASSERT_TRUE(fake == nullptr || *fake == '\0') << "the fake is selected by the environment";
    auto services = MakeProcessServices();
    EXPECT_FALSE(services->StartProgram("/nonexistent/country-test/Meridia", "-t"));
}

}  // namespace
