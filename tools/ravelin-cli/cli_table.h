// Plain-text tables of ravelin-cli: columns padded to their widest cell, two blanks apart.
#pragma once

#include <string>
#include <vector>

// The rows as lines, each ending in a line feed, with trailing blanks dropped.
std::string cli_AlignedTable(const std::vector<std::vector<std::string>> &rows);
