// Shared part of the icon writers: reads "SIZE FILE" from the command line and saves what the
// program's own painter draws on a transparent square of that size as PNG.
#pragma once

#include <functional>

class QImage;

// Returns the process's exit code: 0 when the PNG was written, 2 for a bad command line, 1 when the
// file could not be saved (with the reason on standard error).
int WriteIconFile(int argc, char** argv, const std::function<void(QImage&)>& paint);
