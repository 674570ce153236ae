#include "tools/serial-discovery/disc_port.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

// "ttyUSB12" -> ("ttyUSB", 12); a name without a trailing number has -1.
void SplitName(const std::string &name, std::string *pPrefix, long *pNumber)
{
    std::size_t nEnd = name.size();
    while (nEnd > 0 && std::isdigit(static_cast<unsigned char>(name[nEnd - 1]))) --nEnd;
    *pPrefix = name.substr(0, nEnd);
    *pNumber = nEnd < name.size() ? std::strtol(name.c_str() + nEnd, nullptr, 10) : -1;
}

} // namespace

int disc_BuiltInComNumber(const DiscPort &port)
{
    if (port.uartType <= 0 || port.kernel.compare(0, 4, "ttyS") != 0) return 0;
    std::string prefix;
    long nNumber;
    SplitName(port.kernel, &prefix, &nNumber);
    if (prefix != "ttyS" || nNumber < 0 || nNumber > 998) return 0;
    return static_cast<int>(nNumber) + 1;
}

bool disc_KernelNameLess(const std::string &a, const std::string &b)
{
    std::string prefixA, prefixB;
    long nA, nB;
    SplitName(a, &prefixA, &nA);
    SplitName(b, &prefixB, &nB);
    if (prefixA != prefixB) return prefixA < prefixB;
    if (nA != nB) return nA < nB;
    return a < b;
}

void disc_SortByKernelName(std::vector<DiscPort> *pPorts)
{
    std::sort(pPorts->begin(), pPorts->end(),
              [](const DiscPort &a, const DiscPort &b) { return disc_KernelNameLess(a.kernel, b.kernel); });
}
