// What the country program asks of the desktop and the system: start its sibling program, open a text
// file in the user's viewer, and power the computer off. Behind an interface so that tests see the
// requests instead of the effects.
#pragma once

#include <memory>
#include <string>

class IProcessServices {
public:
    virtual ~IProcessServices() = default;
    // Starts program with one argument and does not wait for it; false when it cannot be started.
    virtual bool StartProgram(const std::string& program, const std::string& argument) = 0;
    // Opens file with the viewer the desktop associates with it; false when there is none.
    virtual bool OpenWithViewer(const std::string& file) = 0;
    // Powers the computer off at once; false when the request failed.
    virtual bool ForcePowerOff() = 0;
};

// The environment variable that swaps the real services for a recording fake in a running program: it
// names a file to which the fake appends one line per request ("start <program> <argument>",
// "open <file>", "poweroff") instead of doing anything. Tests of the executable set it.
extern const char* const kFakeProcessServicesVariable;

// The real services, or the recording fake when kFakeProcessServicesVariable is set.
std::unique_ptr<IProcessServices> MakeProcessServices();

// The fake on its own, for tests that drive the start-up inside their process.
std::unique_ptr<IProcessServices> MakeRecordingProcessServices(const std::string& recordFile);
