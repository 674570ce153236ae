// What "country --help" prints: the command line, the flags and the exit codes.
#pragma once

extern const char* const kUsageText;
