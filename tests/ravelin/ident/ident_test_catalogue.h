// A catalogue of our own for the identification tests: one model for every simulated device under
// data/sim/ident, written to a temporary directory that stands in for the executable's directory.
#pragma once

#include <string>

namespace ident_testing {

// Models.ini and Locks.ini text of the test catalogue.
extern const char kModelsIni[];
extern const char kLocksIni[];

// Makes a fresh temporary directory and returns its path (with no trailing '/').
std::string MakeTempDir();
// Writes a file; false when it cannot be written.
bool WriteFile(const std::string &path, const std::string &text);
// Removes a directory and everything in it.
void RemoveTree(const std::string &path);
// Text of a device file under data/sim/ident.
std::string DeviceFile(const std::string &name);

// Writes the test catalogue into a temporary directory, points "beside the executable" at it and
// loads it; undoes all of that on destruction.
class TestCatalogue {
public:
    TestCatalogue();
    ~TestCatalogue();
    TestCatalogue(const TestCatalogue &) = delete;
    TestCatalogue &operator=(const TestCatalogue &) = delete;

    int LoadResult() const { return m_nLoad; }
    const std::string &Dir() const { return m_dir; }

private:
    std::string m_dir;
    int m_nLoad = -1;
};

// Runs the real dialogues five times faster (4-second settling, 5-second answer waits): both the
// program's clock module and the simulator read the scale.
void UseShortTimeScale();

} // namespace ident_testing
