#include "country/config/executable_dir.h"

#include "country/config/text_fields.h"

#include <filesystem>
#include <mutex>

namespace fs = std::filesystem;

namespace {

std::mutex g_overrideLock;
std::string g_override;

}  // namespace

std::string ExecutableDirectory()
{
    {
        std::lock_guard<std::mutex> hold(g_overrideLock);
        if (!g_override.empty())
            return g_override;
    }
    std::error_code error;
    fs::path self = fs::read_symlink("/proc/self/exe", error);
    if (error)
        return ".";
    return self.parent_path().string();
}

void SetExecutableDirectoryOverride(const std::string& directory)
{
    std::lock_guard<std::mutex> hold(g_overrideLock);
    g_override = directory;
}

std::string FileBesideExecutable(const std::string& name)
{
    fs::path directory = ExecutableDirectory();
    fs::path exact = directory / name;
    std::error_code error;
    if (fs::exists(exact, error))
        return exact.string();
    // Directory order is arbitrary; of several case variants the one that sorts first is taken, so
    // the choice does not change from one run to the next.
    std::string found;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end; entry.increment(error)) {
        std::string candidate = entry->path().filename().string();
        if (EqualsNoCase(candidate, name) && (found.empty() || candidate < found))
            found = candidate;
    }
    if (!found.empty())
        return (directory / found).string();
    return exact.string();
}
