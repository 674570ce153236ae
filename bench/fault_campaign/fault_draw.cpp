// Drawing one run: a device of one family, a small image it accepts, and zero or more faults the
// simulated bank can inject, all from the run's own generator.
#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "bench/fault_campaign/campaign.h"
#include "bench/sample_image.h"
#include "ravelin/catalogue/familyflags.h"
#include "ravelin/flash/flsh.h"

namespace campaign {

namespace {

// ---------------------------------------------------------------------------------------------
// Images

} // namespace

std::string hexRecord(int type, std::uint32_t offset, const std::vector<std::uint8_t> &data)
{
    return bench::HexRecord(type, offset, data.data(), static_cast<unsigned>(data.size()));
}

namespace {

struct HexImage {
    std::string text;
    std::map<std::uint32_t, std::uint8_t> bytes;
    std::vector<std::uint8_t> dataInOrder;  // data record bytes in file order
    long lines = 0;
    std::set<std::uint32_t> touched128;      // 128-byte lines the data touches
};

// One to three segments of random bytes at random places in [lo, hi], in random order, each after
// the extended address record of its 64 KiB base.
HexImage makeHex(Rng &rng, std::uint32_t lo, std::uint32_t hi, long maxTotal, long recordLength)
{
    HexImage image;
    const long segments = rng.range(1, 3);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> taken;
    for (long s = 0; s < segments; ++s) {
        const long length = rng.range(1, std::max(1L, maxTotal / segments));
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::uint32_t start = static_cast<std::uint32_t>(rng.range(lo, static_cast<long>(hi) - length));
            std::uint32_t end = start + static_cast<std::uint32_t>(length);
            bool overlaps = false;
            for (const auto &range : taken)
                overlaps = overlaps || (start < range.second && range.first < end);
            if (!overlaps) {
                taken.emplace_back(start, end);
                break;
            }
        }
    }
    for (const auto &range : taken) {
        std::uint32_t base = 0xFFFFFFFF;
        for (std::uint32_t address = range.first; address < range.second;) {
            if ((address >> 16) != base) {
                base = address >> 16;
                image.text += hexRecord(4, 0, {static_cast<std::uint8_t>(base >> 8), static_cast<std::uint8_t>(base)});
                ++image.lines;
            }
            std::uint32_t count = std::min<std::uint32_t>(
                {static_cast<std::uint32_t>(recordLength), range.second - address, 0x10000 - (address & 0xFFFF)});
            std::vector<std::uint8_t> data(count);
            for (std::uint32_t i = 0; i < count; ++i) {
                data[i] = rng.byte();
                image.bytes[address + i] = data[i];
                image.touched128.insert((address + i) / 128);
            }
            image.dataInOrder.insert(image.dataInOrder.end(), data.begin(), data.end());
            image.text += hexRecord(0, address & 0xFFFF, data);
            ++image.lines;
            address += count;
        }
    }
    image.text += ":00000001FF\r\n";
    ++image.lines;
    return image;
}

// ---------------------------------------------------------------------------------------------
// Faults

// Device file keys of the faults drawn so far; a second byte-level fault that names another
// direction makes the direction "both".
struct FaultSet {
    std::map<std::string, std::string> keys;
    bool family = false;  // a family fault or a delay: acts by construction
    void set(const std::string &key, const std::string &value)
    {
        if (key == "fault.direction" && keys.count(key) && keys[key] != value) {
            keys[key] = "both";
            return;
        }
        keys[key] = value;
    }
};

// How many bytes each way the update exchanges, roughly: byte-level faults are spaced so that a
// few of them act during the update.
struct Traffic {
    long fromHost = 100;
    long toHost = 20;
};

std::string number(long value) { return std::to_string(value); }

void addByteFault(Rng &rng, FaultSet &set, const char *key, const char *direction, const Traffic &traffic)
{
    long estimate = std::string(direction) == "to_host" ? traffic.toHost : traffic.fromHost;
    if (std::string(direction) == "both")
        estimate = traffic.toHost + traffic.fromHost;
    set.set(key, number(rng.range(std::max(2L, estimate / 4), std::max(3L, estimate))));
    set.set("fault.direction", direction);
}

void addLineDrop(Rng &rng, FaultSet &set, const Traffic &traffic, RunPlan &plan)
{
    if (rng.chance(0.6))
        set.set("fault.disconnect_after", number(rng.range(1, std::max(2L, traffic.fromHost))));
    else
        set.set("fault.disconnect_after_tx", number(rng.range(1, std::max(2L, traffic.toHost))));
    if (rng.chance(0.5)) {
        plan.reconnectMs = rng.range(50, 3000);
        set.set("fault.reconnect_ms", number(plan.reconnectMs));
    }
}

// Just under or just over a time-out.
std::string nearTimeout(Rng &rng, long timeoutMs)
{
    return number(rng.chance(0.5) ? timeoutMs * 9 / 10 : timeoutMs * 11 / 10);
}

// Every answer late, near one of the protocol's answer time-outs (the shortest one decides).
void addDelay(Rng &rng, FaultSet &set, const std::vector<long> &timeoutsMs)
{
    set.set("fault.delay_ms", nearTimeout(rng, rng.pick(timeoutsMs)));
    set.family = true;
}

// The kinds each protocol can be given; kNone and kMixed are handled by the caller.
std::vector<FaultKind> kindsOf(Protocol protocol)
{
    std::vector<FaultKind> kinds = {FaultKind::kSilence,      FaultKind::kGarbage,       FaultKind::kLineDrop,
                                    FaultKind::kErrorAnswer,  FaultKind::kDroppedBytes,  FaultKind::kCorruptToHost,
                                    FaultKind::kCorruptFromHost, FaultKind::kDelay};
    // Only the maker's loader and the Lucent/Agere loaders report a version.
    if (protocol == Protocol::kGeneric || protocol == Protocol::kLucent)
        kinds.push_back(FaultKind::kLoaderVersion);
    return kinds;
}

// The faults every protocol shares; false when the kind is the family's own.
bool addCommonFault(Rng &rng, FaultKind kind, FaultSet &set, const Traffic &traffic, RunPlan &plan)
{
    static const std::vector<std::string> kDirections = {"to_host", "from_host", "both"};
    switch (kind) {
    case FaultKind::kGarbage:
        set.set("fault.garbage", "on");
        return true;
    case FaultKind::kLineDrop:
        addLineDrop(rng, set, traffic, plan);
        return true;
    case FaultKind::kDroppedBytes:
        addByteFault(rng, set, "fault.drop_every", rng.pick(kDirections).c_str(), traffic);
        return true;
    case FaultKind::kCorruptToHost:
        addByteFault(rng, set, "fault.corrupt_every", "to_host", traffic);
        return true;
    case FaultKind::kCorruptFromHost:
        addByteFault(rng, set, "fault.corrupt_every", "from_host", traffic);
        return true;
    default:
        return false;
    }
}

// ---------------------------------------------------------------------------------------------
// The families

struct Family {
    const char *name;
    std::uint32_t flags;
};

void drawGeneric(Rng &rng, RunPlan &plan, FaultSet &set, const std::vector<FaultKind> &kinds)
{
    static const std::vector<Family> kFamilies = {{"OLDMODEMS", 0x00000005}, {"NEWMODEMS", 0x00000024},
                                                  {"TA", 0x00000414},        {"OctaTA1", 0x00000494},
                                                  {"OCTAMODEMS", 0x00000065}, {"TA2", 0x00080414}};
    const Family &family = rng.pick(kFamilies);
    plan.family = family.name;
    plan.flags = family.flags;
    plan.speed = static_cast<std::int32_t>(rng.pick(std::vector<long>{19200, 38400, 115200}));
    plan.keepBootSector = rng.chance(0.5) ? 1 : 0;
    plan.afterFlash = static_cast<int>(rng.range(0, 2));
    // The block at address 0 of a boot-jump family starts with the jump the loader needs: images
    // of such families leave the first line alone.
    HexImage image = makeHex(rng, (plan.flags & FLF_BOOT_JUMP) ? 0x80 : 0, 0x3FFFF, 1200, rng.chance(0.5) ? 16 : 32);
    plan.imageText = image.text;
    plan.imageSuffix = ".HEX";
    plan.expectedFlash = image.bytes;
    const long maxSpeed = rng.pick(std::vector<long>{19200, 38400, 115200});
    plan.deviceText = "family = loader\nspeed = " + number((plan.flags & FLF_FAST_START) ? 115200 : 19200) +
                      "\nloader.max_speed = " + number(maxSpeed) + "\n" +
                      ((plan.flags & FLF_ADDR32) ? "loader.addr32 = on\n" : "");

    const long blocks = static_cast<long>(image.touched128.size());
    Traffic traffic;
    traffic.fromHost = 40 + blocks * 141;
    traffic.toHost = 40 + blocks * 13;
    const double handshake = 2.13 + 15 + 3 + 20 + 2;
    plan.allowanceSeconds = handshake + 15 + 3 + 40 + blocks * 3 * (10 + 10 + 20) + 1 +
                            (plan.afterFlash == 1 ? handshake + 20 : 0);

    for (FaultKind kind : kinds) {
        if (addCommonFault(rng, kind, set, traffic, plan))
            continue;
        set.family = true;
        const long block = rng.range(1, std::max(1L, blocks / 2));
        switch (kind) {
        case FaultKind::kSilence:
            switch (rng.range(0, 3)) {
            case 0: set.set("fault.silent", "on"); break;
            case 1: set.set("loader.sync_after", "-1"); break;
            case 2: set.set("loader.no_prompt_block", number(block)); break;
            default: set.set("loader.silent_block", number(block)); break;
            }
            break;
        case FaultKind::kErrorAnswer:
            if (rng.chance(0.8)) {
                set.set("loader.error_block", number(block));
                set.set("loader.error_count", number(rng.range(1, 3)));
            } else {
                set.set("loader.speed_letter", rng.chance(0.5) ? "L" : "Q");
            }
            break;
        case FaultKind::kLoaderVersion:
            set.set("loader.version", rng.pick(std::vector<std::string>{"1.05", "1.7", "x.yz", "123.45", "2.0", "1.07"}));
            break;
        case FaultKind::kDelay:
            // The block prompt (10 s) and the block's answer (20 s) one at a time; the others by
            // delaying every answer.
            switch (rng.range(0, 2)) {
            case 0: set.set("loader.late_prompt", number(block) + ":" + nearTimeout(rng, 10000)); break;
            case 1: set.set("loader.late_block", number(block) + ":" + nearTimeout(rng, 20000)); break;
            default: addDelay(rng, set, {1000, 3000}); break;
            }
            break;
        default:
            break;
        }
    }
}

void drawLucent(Rng &rng, RunPlan &plan, FaultSet &set, const std::vector<FaultKind> &kinds)
{
    const bool agere = rng.chance(0.4);
    plan.family = agere ? "AGERE" : "LUCENT";
    plan.flags = agere ? 0x00007100 : 0x00000100;
    plan.speed = agere ? 115200 : static_cast<std::int32_t>(rng.pick(std::vector<long>{38400, 115200}));
    plan.flashMode = agere || rng.chance(0.3) ? flsh_kFullFlash : flsh_kGoFlash;
    plan.restoreDefaults = rng.chance(0.3) ? 1 : 0;
    plan.lucentVariant = static_cast<int>(rng.range(0, 2));
    // The Agere loader reports 1.3, which type code 3 does not take.
    plan.lucentType = static_cast<int>(rng.range(0, agere ? 2 : 3));
    HexImage image = makeHex(rng, 0, 0x3FFFF, 600, rng.chance(0.5) ? 16 : 32);
    plan.imageText = image.text;
    plan.imageSuffix = ".HEX";
    plan.expectedFlash = image.bytes;
    plan.deviceText = "dialogues = ident-lucent, lucent-loader\nspeed = " + number(plan.speed) +
                      "\nlucent.variant = " + number(plan.lucentVariant) + "\n" +
                      (agere ? "lucent.new_loader = OCM Ver:1.3\n" : "");

    const bool full = plan.flashMode == flsh_kFullFlash;
    const long loaderLines = agere ? 4 : 5;  // as written by the campaign's own loader files
    const long lines = image.lines;
    Traffic traffic;
    traffic.fromHost = static_cast<long>(plan.imageText.size()) + (full ? loaderLines * 50 : 9) + 11;
    traffic.toHost = 20 + lines * 6 + (full ? loaderLines * 6 : 0);
    plan.allowanceSeconds = 11 + 10 + (full ? loaderLines * 2 * 4 : 5) + std::min(lines, 2L) * (2 * 180 + 4 * 5) +
                            std::max(0L, lines - 2) * (2 * 5 + 4 * 5) + 3;

    for (FaultKind kind : kinds) {
        if (addCommonFault(rng, kind, set, traffic, plan))
            continue;
        set.family = true;
        const long line = rng.range(1, lines);
        switch (kind) {
        case FaultKind::kSilence:
            switch (rng.range(0, 2)) {
            case 0: set.set("fault.silent", "on"); break;
            case 1: set.set("fault.lucent.silent_line", number(line)); break;
            default:
                if (full)
                    set.set("fault.lucent.silent_loader", number(rng.range(1, loaderLines)) + ":" + number(rng.range(1, 4)));
                else
                    set.set("fault.lucent.go_silent", "on");
                break;
            }
            break;
        case FaultKind::kErrorAnswer:
            if (!full && plan.lucentVariant != 2 && rng.chance(0.2)) {
                set.set("fault.error", plan.lucentVariant == 0 ? "AT&&FGO" : "AT&&WGO");
            } else {
                std::string nok = number(line) + ":" + number(rng.range(1, 4));
                if (rng.chance(0.7))
                    nok += ":" + number(rng.range(1, 5));
                set.set("fault.lucent.nok", nok);
            }
            break;
        case FaultKind::kLoaderVersion:
            if (rng.chance(0.5)) {
                plan.lucentType = 3;
                set.set(full ? "lucent.new_loader" : "lucent.go_version", full ? "Ver:4.3" : "4.3");
            } else if (full) {
                set.set("lucent.new_loader", "");
            } else if (rng.chance(0.5)) {
                set.set("lucent.go_version", "5.1");
            } else {
                set.set("fault.lucent.no_version", "on");
            }
            break;
        case FaultKind::kDelay:
            if (rng.chance(0.5)) {
                addDelay(rng, set, full ? std::vector<long>{2000, 5000} : std::vector<long>{5000});
            } else {
                const long late = rng.range(1, lines);
                const long timeout = late <= 2 ? 180000 : 5000;
                set.set("fault.lucent.late_line",
                        number(late) + ":" + number(rng.chance(0.5) ? timeout * 9 / 10 : timeout * 11 / 10));
            }
            break;
        default:
            break;
        }
    }
}

// The Rockwell loader file the campaign puts beside the program (see campaign_run.cpp).
constexpr long kRockwellLoaderBytes = 80;

void drawRockwell(Rng &rng, RunPlan &plan, FaultSet &set, const std::vector<FaultKind> &kinds)
{
    static const std::vector<Family> kFamilies = {{"ROCKWELL", 0x00000200}, {"ROCKWELL2", 0x00000A00},
                                                  {"ROCKWELL3", 0x00004A00}, {"ROCKWELL4", 0x00204A00}};
    const Family &family = rng.pick(kFamilies);
    plan.family = family.name;
    plan.flags = family.flags;
    plan.speed = (plan.flags & FLF_DOWNLOAD_115200) ? 115200 : static_cast<std::int32_t>(rng.pick(std::vector<long>{38400, 115200}));
    plan.restoreDefaults = rng.chance(0.3) ? 1 : 0;
    HexImage image = makeHex(rng, 0, 0x3FFFF, 600, rng.chance(0.5) ? 16 : 32);
    plan.imageText = image.text;
    plan.imageSuffix = ".HEX";
    plan.expectedFlash = image.bytes;
    plan.deviceText = "family = rockwell-loader\nspeed = " + number(plan.speed) + "\n" +
                      (rng.chance(0.3) ? "rockwell.banner_capital = on\n" : "") +
                      (rng.chance(0.3) ? "rockwell.final_upload = on\n" : "");
    Traffic traffic;
    traffic.fromHost = 5 + kRockwellLoaderBytes + static_cast<long>(plan.imageText.size());
    traffic.toHost = 80;
    plan.allowanceSeconds = 2 * (10 + 3) + 10 + 10 + 30 + 4;

    for (FaultKind kind : kinds) {
        if (addCommonFault(rng, kind, set, traffic, plan))
            continue;
        set.family = true;
        switch (kind) {
        case FaultKind::kSilence:
            set.set(rng.pick(std::vector<std::string>{"fault.silent", "fault.rockwell.no_banner",
                                                       "fault.rockwell.no_flash_code", "fault.rockwell.no_final"}),
                    "on");
            break;
        case FaultKind::kErrorAnswer:
            switch (rng.range(0, 2)) {
            case 0: set.set("fault.rockwell.ok_banner", "on"); break;
            case 1: set.set("fault.rockwell.nvram", "on"); break;
            default: set.set("fault.error", "AT**"); break;
            }
            break;
        case FaultKind::kDelay:
            if (rng.chance(0.5))
                set.set("fault.rockwell.late_final", nearTimeout(rng, 30000));
            else
                addDelay(rng, set, {10000});
            break;
        default:
            break;
        }
    }
}

void drawSiemens(Rng &rng, RunPlan &plan, FaultSet &set, const std::vector<FaultKind> &kinds)
{
    plan.family = "SIEMENS";
    plan.flags = 0x00008000;
    plan.speed = 115200;
    const long blocks = rng.range(1, 16);
    for (long b = 0; b < blocks; ++b) {
        const long length = rng.range(1, 127);
        plan.imageText += static_cast<char>(length);
        for (long i = 0; i < length; ++i)
            plan.imageText += static_cast<char>(rng.byte());
    }
    plan.imageSuffix = ".USF";
    plan.expectedSiemensFile = plan.imageText;
    plan.deviceText = "family = siemens\nspeed = 115200\n";
    Traffic traffic;
    traffic.fromHost = 8 + static_cast<long>(plan.imageText.size());
    traffic.toHost = 7 + blocks;
    long scriptedWaits = 0;

    for (FaultKind kind : kinds) {
        if (addCommonFault(rng, kind, set, traffic, plan))
            continue;
        set.family = true;
        const std::string block = "fault.siemens.block." + number(rng.range(1, blocks));
        switch (kind) {
        case FaultKind::kSilence:
            switch (rng.range(0, 3)) {
            case 0: set.set("fault.silent", "on"); break;
            case 1:
                set.set("fault.siemens.at_115200", "silent");
                if (rng.chance(0.5))
                    set.set("fault.siemens.at_57600", "silent");
                break;
            case 2: set.set("fault.siemens.no_ready", "on"); break;
            default: set.set(block, "--"); break;
            }
            break;
        case FaultKind::kErrorAnswer:
            if (rng.chance(0.4)) {
                static const std::vector<std::string> kModes = {"retry", "fatal", "busy"};
                set.set("fault.siemens.at_115200", rng.pick(kModes));
                if (rng.chance(0.5))
                    set.set("fault.siemens.at_57600", rng.pick(kModes));
            } else {
                static const std::vector<std::string> kScripts = {"04,04,01", "02,01", "03", "02,02,02,01", "04,03",
                                                                  "02,04,01", "04,04,04,04,04,01"};
                const std::string &script = rng.pick(kScripts);
                set.set(block, script);
                scriptedWaits += static_cast<long>(std::count(script.begin(), script.end(), ',')) + 1;
            }
            break;
        case FaultKind::kDelay:
            if (rng.chance(0.5))
                set.set("fault.siemens.late_block", number(rng.range(1, blocks)) + ":" + nearTimeout(rng, 30000));
            else
                addDelay(rng, set, {10000});
            break;
        default:
            break;
        }
    }
    plan.allowanceSeconds = 2 * 10 + 4 * 30 + (blocks + scriptedWaits) * 30;
}

void drawDot(Rng &rng, RunPlan &plan, FaultSet &set, const std::vector<FaultKind> &kinds)
{
    static const std::vector<Family> kFamilies = {{"CF", 0x00010080}, {"CF2", 0x00070000}, {"CF3", 0x00030080},
                                                  {"CF4", 0x00170000}};
    const Family &family = rng.pick(kFamilies);
    plan.family = family.name;
    plan.flags = family.flags;
    plan.speed = 115200;
    const bool powerCycle = (plan.flags & FLF_POWER_CYCLE) != 0;
    const long blockSize = (plan.flags & FLF_DOT_BLOCK_128) ? 128 : 64;
    HexImage image = makeHex(rng, 0, 0x3FFFF, 700, rng.chance(0.5) ? 16 : 32);
    plan.imageText = image.text;
    plan.imageSuffix = ".HEX";
    // The boot code programs the data bytes from address 0 in the order they come, the last block
    // padded with zero bytes.
    std::vector<std::uint8_t> data = image.dataInOrder;
    while (data.size() % static_cast<size_t>(blockSize) != 0)
        data.push_back(0);
    for (size_t i = 0; i < data.size(); ++i)
        plan.expectedFlash[static_cast<std::uint32_t>(i)] = data[i];
    const long blocks = static_cast<long>(data.size()) / blockSize;
    plan.deviceText = "family = dot\nspeed = 115200\ndot.block = " + number(blockSize) + "\n" +
                      ((plan.flags & FLF_DOT_TRAILER) ? "dot.trailer = on\n" : "") +
                      (powerCycle ? "dot.power_cycle_ms = 1000\n" : "");
    Traffic traffic;
    traffic.fromHost = 5 + blocks * (blockSize + 2) + 1 + blockSize;
    traffic.toHost = 14 + blocks;
    plan.allowanceSeconds = (powerCycle ? 30 + 1 : 10 + 10) + blocks * 3 * (10 + 0.035) + 1;

    for (FaultKind kind : kinds) {
        if (addCommonFault(rng, kind, set, traffic, plan))
            continue;
        set.family = true;
        const std::string block = "fault.dot.block." + number(rng.range(1, blocks));
        switch (kind) {
        case FaultKind::kSilence:
            switch (rng.range(0, 3)) {
            case 0: set.set("fault.silent", "on"); break;
            case 1: set.set(powerCycle ? "fault.dot.no_ready" : "fault.dot.no_banner", "on"); break;
            case 2: set.set("fault.dot.no_ready", "on"); break;
            default: set.set(block, "-"); break;
            }
            break;
        case FaultKind::kErrorAnswer:
            switch (rng.range(0, 2)) {
            case 0: set.set("fault.dot.ready_error", "on"); break;
            case 1:
                if (!powerCycle) {
                    set.set("fault.error", "AT**");
                    break;
                }
                [[fallthrough]];
            default:
                set.set(block, rng.pick(std::vector<std::string>{"E,E,.", "E,E,E", "E", "E,."}));
                break;
            }
            break;
        case FaultKind::kDelay:
            addDelay(rng, set, powerCycle ? std::vector<long>{30000} : std::vector<long>{10000});
            break;
        default:
            break;
        }
    }
}

} // namespace

const char *protocolName(Protocol protocol)
{
    switch (protocol) {
    case Protocol::kGeneric: return "generic";
    case Protocol::kLucent: return "lucent";
    case Protocol::kRockwell: return "rockwell";
    case Protocol::kSiemens: return "siemens";
    case Protocol::kDot: return "dot";
    default: return "?";
    }
}

const char *faultKindName(FaultKind kind)
{
    switch (kind) {
    case FaultKind::kNone: return "none";
    case FaultKind::kSilence: return "silence";
    case FaultKind::kGarbage: return "garbage";
    case FaultKind::kLineDrop: return "line drop";
    case FaultKind::kErrorAnswer: return "error answer";
    case FaultKind::kDroppedBytes: return "dropped bytes";
    case FaultKind::kCorruptToHost: return "corrupt to host";
    case FaultKind::kCorruptFromHost: return "corrupt from host";
    case FaultKind::kLoaderVersion: return "loader version";
    case FaultKind::kDelay: return "delay";
    case FaultKind::kMixed: return "two faults";
    default: return "?";
    }
}

std::uint64_t runSeed(std::uint64_t campaignSeed, long index)
{
    // splitmix64 of the pair: neighbouring indices give unrelated streams.
    std::uint64_t z = campaignSeed + 0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(index + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

RunPlan drawRun(std::uint64_t campaignSeed, long index)
{
    RunPlan plan;
    plan.index = index;
    plan.seed = runSeed(campaignSeed, index);
    Rng rng(plan.seed);
    plan.protocol = static_cast<Protocol>(rng.range(0, static_cast<long>(Protocol::kCount) - 1));

    // About 15 % fault-free as the control group, about 15 % with two faults.
    std::vector<FaultKind> kinds;
    const std::vector<FaultKind> available = kindsOf(plan.protocol);
    const double draw = rng.range(0, 99) / 100.0;
    if (draw < 0.15) {
        plan.kind = FaultKind::kNone;
    } else if (draw < 0.30) {
        plan.kind = FaultKind::kMixed;
        kinds.push_back(rng.pick(available));
        FaultKind second = kinds.front();
        while (second == kinds.front())
            second = rng.pick(available);
        kinds.push_back(second);
    } else {
        plan.kind = rng.pick(available);
        kinds.push_back(plan.kind);
    }

    FaultSet set;
    switch (plan.protocol) {
    case Protocol::kGeneric: drawGeneric(rng, plan, set, kinds); break;
    case Protocol::kLucent: drawLucent(rng, plan, set, kinds); break;
    case Protocol::kRockwell: drawRockwell(rng, plan, set, kinds); break;
    case Protocol::kSiemens: drawSiemens(rng, plan, set, kinds); break;
    default: drawDot(rng, plan, set, kinds); break;
    }
    plan.faultActsByConstruction = set.family;
    for (const auto &key : set.keys) {
        plan.faults.push_back(key.first + " = " + key.second);
        plan.deviceText += key.first + " = " + key.second + "\n";
    }
    plan.deviceText = "throttle = off\n" + plan.deviceText;
    return plan;
}

std::string describe(const RunPlan &plan)
{
    std::ostringstream out;
    out << protocolName(plan.protocol) << " " << plan.family << " (flags 0x" << std::hex << plan.flags << std::dec
        << "), " << faultKindName(plan.kind) << ":";
    if (plan.faults.empty())
        out << " no fault";
    for (const std::string &fault : plan.faults)
        out << " [" << fault << "]";
    return out.str();
}

bool documentedFailure(Protocol protocol, int result)
{
    static const std::map<Protocol, std::set<int>> kCodes = {
        {Protocol::kGeneric, {FR_HANDSHAKE_FAILURE, FR_VERIFY_FAILED, FR_TIMEOUT, FR_UNPROTECT_FAILED, FR_AFTER_FLASH_FAILED}},
        {Protocol::kLucent, {FR_VERIFY_FAILED, FR_TIMEOUT, FR_WRONG_VERSION, FR_LOADER_VERSION_FAILED, URS_TIMEOUT, URS_IO_ERROR}},
        {Protocol::kRockwell, {FR_HANDSHAKE_FAILURE, FR_VERIFY_FAILED, URS_TIMEOUT, URS_IO_ERROR}},
        {Protocol::kSiemens, {FR_ABORTED, FR_BAD_HEX, FR_VERIFY_FAILED, FR_PORT_OPEN_FAILED, URS_TIMEOUT, URS_IO_ERROR}},
        {Protocol::kDot, {FR_VERIFY_FAILED, FR_TIMEOUT, FR_PORT_OPEN_FAILED, URS_TIMEOUT, URS_IO_ERROR}},
    };
    auto codes = kCodes.find(protocol);
    return codes != kCodes.end() && codes->second.count(result) != 0;
}

} // namespace campaign
