// Which integrity check each protocol carries on the wire, and whether the faults that acted in a
// run hit only bytes that check does not cover. A success with wrong memory counts as undetectable
// only then; everywhere else it is a failure of the engine or the simulated device.
#include <cstdint>
#include <string>

#include "bench/fault_campaign/campaign.h"

namespace campaign {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// A well-formed Intel HEX record whose checksum adds up (what the devices' loaders accept).
bool recordPassesCheck(const std::string &line)
{
    if (line.size() < 11 || line[0] != ':' || (line.size() - 1) % 2 != 0)
        return false;
    unsigned sum = 0;
    size_t count = 0;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        int high = hexValue(line[i]), low = hexValue(line[i + 1]);
        if (high < 0 || low < 0)
            return false;
        sum += static_cast<unsigned>(high * 16 + low);
        ++count;
    }
    return (sum & 0xFF) == 0 && count == static_cast<size_t>(hexValue(line[1]) * 16 + hexValue(line[2])) + 5;
}

// Line protocols: a corrupted line that still passes the record check went through unseen.
bool lineCorruptionEscapes(const TranscriptFacts &facts, const std::string &prefix)
{
    std::string corrupted = facts.hostBytes;
    for (size_t index : facts.corruptedFromHost)
        if (index < corrupted.size())
            corrupted[index] = static_cast<char>(corrupted[index] ^ 0x5A);
    size_t start = 0;
    for (size_t index : facts.corruptedFromHost) {
        // The line starts after the last line end (or the CR of a command) before the hit.
        size_t lineStart = index == 0 ? std::string::npos : facts.hostBytes.find_last_of("\r\n", index - 1);
        lineStart = lineStart == std::string::npos ? 0 : lineStart + 1;
        size_t lineEnd = facts.hostBytes.find("\r\n", index);
        if (lineEnd == std::string::npos || lineStart < start)
            continue;
        std::string line = corrupted.substr(lineStart, lineEnd - lineStart);
        if (line.compare(0, prefix.size(), prefix) == 0)
            line = line.substr(prefix.size());
        if (line.size() > 0 && line[0] == ':' && recordPassesCheck(line))
            return true;
        start = lineStart;
    }
    return false;
}

// The maker's loader: each block is "ATFLP\r", a header of length and address, the data and one
// XOR byte over the data. The header is not covered, and corruptions that cancel in the XOR are not
// seen either.
bool blockCorruptionEscapes(const TranscriptFacts &facts, bool addr32)
{
    const std::string &host = facts.hostBytes;
    const size_t headerLength = addr32 ? 6 : 5;
    for (size_t at = host.find("ATFLP\r"); at != std::string::npos; at = host.find("ATFLP\r", at + 1)) {
        size_t header = at + 6;
        if (header + headerLength > host.size())
            break;
        size_t length = (static_cast<size_t>(static_cast<std::uint8_t>(host[header])) << 8) |
                        static_cast<std::uint8_t>(host[header + 1]);
        size_t data = header + headerLength;
        size_t end = data + length + 1;  // checksum included
        std::uint8_t change = 0;
        int hits = 0;
        for (size_t index : facts.corruptedFromHost) {
            if (index >= header && index < data)
                return true;
            if (index >= data && index < end) {
                change ^= 0x5A;
                ++hits;
            }
        }
        if (hits > 0 && change == 0)
            return true;
    }
    return false;
}

} // namespace

bool faultEscapesIntegrityCheck(const RunPlan &plan, const TranscriptFacts &facts,
                                const std::map<std::string, std::string> &deviceValues)
{
    const bool hostBytesHit = !facts.corruptedFromHost.empty() || !facts.droppedFromHost.empty();
    switch (plan.protocol) {
    case Protocol::kSiemens:
    case Protocol::kDot:
        // No check at all: a data byte changed or lost on the way in is programmed as it arrived.
        return hostBytesHit;
    case Protocol::kGeneric:
        return blockCorruptionEscapes(facts, plan.deviceText.find("loader.addr32 = on") != std::string::npos);
    case Protocol::kLucent: {
        // The answers carry no check: a rejection that loses its "N" reads as "OK".
        auto answers = deviceValues.find("lucent.answers");
        bool rejected = answers != deviceValues.end() && !answers->second.empty();
        if (rejected && (facts.corruptedToHost > 0 || facts.droppedToHost > 0))
            return true;
        return lineCorruptionEscapes(facts, "at&&");
    }
    case Protocol::kRockwell:
        return lineCorruptionEscapes(facts, "");
    default:
        return false;
    }
}

std::vector<std::pair<std::string, std::string>> integrityTable()
{
    return {
        {"generic", "per block: XOR byte over the data, block answered OK or ERROR (3 tries); length and address "
                    "not covered"},
        {"lucent", "per line: the Intel HEX record checksum, checked by the loader, each line answered OK or NOKn "
                   "(resent after NOK2/NOK3); the answers themselves carry no check"},
        {"rockwell", "per line: the Intel HEX record checksum, checked by the loader; no answer per line, one "
                     "final confirmation for the whole image"},
        {"siemens", "none: length byte and data, each block answered by one control byte"},
        {"dot", "none: fixed-size blocks, each answered by a dot; some families frame a block with 0x17"},
    };
}

} // namespace campaign
