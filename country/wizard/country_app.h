// The country program's start-up: reads the command line, then starts the sibling program, opens the
// help text, runs one identification and configuration without a window, or shows the wizard.
// The program ends when Start returns; its result is the exit code.
#pragma once

#include "country/config/ModemJobList.h"
#include "country/wizard/command_line_options.h"
#include "country/wizard/message_log.h"
#include "country/wizard/process_services.h"

#include <iostream>
#include <ostream>
#include <string>
#include <vector>

class IMessageBoxes;

extern const char* const kCountryIniMissing;
extern const char* const kModelsIniMissing;
extern const char* const kMustSupplyCountryCode;
extern const char* const kNoValidDevice;
extern const char* const kNoViewerForText;

// A message of the message log as it goes to a terminal: each "\r" (the log's line break) becomes a
// line feed, and it ends with one.
std::string TerminalText(const std::string& text);

class CCountryApp {
public:
    // services, errors (where every message of a windowless start goes) and output (where the usage
    // text goes) must outlive the app.
    CCountryApp(IProcessServices& services, std::ostream& errors, std::ostream& output = std::cout);
    // Deletes every remaining worker (stop, wait, free) and closes the message log.
    ~CCountryApp();
    CCountryApp(const CCountryApp&) = delete;
    CCountryApp& operator=(const CCountryApp&) = delete;

    // parameters: the command line without the program name. Returns the exit code: 0 when what was
    // asked for was done, 1 when it failed (the wizard: 0 only when it configured a modem).
    int Start(const std::vector<std::string>& parameters);

    // Where the wizard mode's message boxes go; nullptr (the default) shows real ones. Must outlive Start.
    void SetMessageBoxes(IMessageBoxes* boxes) { m_messageBoxes = boxes; }

    const CommandLineOptions& Options() const { return m_options; }

private:
    int ShowUsage();
    int StartSibling();
    int ShowHelp();
    int CommandLineMode();
    int WizardMode();
    // Identification and configuration of the option's port for the option's country code.
    int CommandLineRun();
    // Writes text to the message log (when open) and, with line breaks for a terminal, to errors.
    void Message(const std::string& text);
    // Why nothing was identified on the worker's port.
    std::string NotIdentifiedMessage(const CModemJob& job) const;

    IProcessServices& m_services;
    std::ostream& m_errors;
    std::ostream& m_output;
    CModemJobList m_jobs;
    CModemJob* m_selected = nullptr;
    CommandLineOptions m_options;
    CMessageLog m_log;
    IMessageBoxes* m_messageBoxes = nullptr;
};
