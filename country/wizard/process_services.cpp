#include "country/wizard/process_services.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

const char* const kFakeProcessServicesVariable = "COUNTRY_FAKE_PROCESS_SERVICES";

namespace {

// One argument for the shell, quoted so that blanks and quotes in paths pass through unchanged.
std::string ShellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

bool Succeeded(int status)
{
    return status == 0;
}

// std::system keeps this layer portable; the trailing "&" lets the started program outlive the wait.
class CShellProcessServices : public IProcessServices {
public:
    bool StartProgram(const std::string& program, const std::string& argument) override
    {
        // Started in the background, a missing program would only fail where nobody sees it.
        std::error_code error;
        if (!std::filesystem::is_regular_file(program, error))
            return false;
        std::string command = ShellQuoted(program) + " " + ShellQuoted(argument) + " </dev/null >/dev/null 2>&1 &";
        return Succeeded(std::system(command.c_str()));
    }

    bool OpenWithViewer(const std::string& file) override
    {
        if (!Succeeded(std::system("command -v xdg-open >/dev/null 2>&1")))
            return false;
        std::string command = "xdg-open " + ShellQuoted(file) + " </dev/null >/dev/null 2>&1 &";
        return Succeeded(std::system(command.c_str()));
    }

    bool ForcePowerOff() override
    {
        // Forced: programs that hold a shutdown inhibitor are not asked, as the command-line run is
        // meant for unattended benches.
        return Succeeded(std::system("systemctl poweroff --ignore-inhibitors"));
    }
};

class CRecordingProcessServices : public IProcessServices {
public:
    explicit CRecordingProcessServices(const std::string& recordFile) : recordFile_(recordFile) {}

    bool StartProgram(const std::string& program, const std::string& argument) override
    {
        return Record("start " + program + " " + argument);
    }

    bool OpenWithViewer(const std::string& file) override { return Record("open " + file); }

    bool ForcePowerOff() override { return Record("poweroff"); }

private:
    bool Record(const std::string& line)
    {
        std::FILE* file = std::fopen(recordFile_.c_str(), "ab");
        if (file == nullptr)
            return false;
        std::fprintf(file, "%s\n", line.c_str());
        return std::fclose(file) == 0;
    }

    std::string recordFile_;
};

}  // namespace

std::unique_ptr<IProcessServices> MakeProcessServices()
{
    const char* recordFile = std::getenv(kFakeProcessServicesVariable);
    if (recordFile != nullptr && *recordFile != '\0')
        return MakeRecordingProcessServices(recordFile);
    return std::make_unique<CShellProcessServices>();
}

std::unique_ptr<IProcessServices> MakeRecordingProcessServices(const std::string& recordFile)
{
    return std::make_unique<CRecordingProcessServices>(recordFile);
}
