// The fault campaign's own parts that decide what it proves: a run drawn again from its seed is the
// same run, every draw is a device the simulated bank accepts with an image the engine reads as the
// memory the campaign expects, every protocol meets every fault kind, and the integrity judgement
// counts a wrong memory as undetectable only where the protocol really carries no check.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "bench/fault_campaign/campaign.h"
#include "ravelin/flash/hex_image.h"
#include "tools/modemsim/device_config.h"

using namespace campaign;

namespace {

constexpr std::uint64_t kSeed = 20261208;
constexpr long kDraws = 600;

// The image's bytes as the engine's record reader sees them: by address, and in file order.
void readImage(const std::string &text, std::map<std::uint32_t, std::uint8_t> *bytes, std::vector<std::uint8_t> *inOrder)
{
    std::istringstream lines(text);
    std::string line;
    HexAddressState state{0, 0};
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        HexRecord record{};
        ASSERT_TRUE(parseHexRecord(&state, line.c_str(), &record)) << line;
        ASSERT_TRUE(hexRecordChecksumOk(&state, &record)) << line;
        if (record.nType != 0)
            continue;
        for (int i = 0; i < record.nCount; ++i) {
            (*bytes)[record.nAddress + static_cast<std::uint32_t>(i)] = record.abData[i];
            inOrder->push_back(record.abData[i]);
        }
    }
}

TEST(FaultCampaignDraw, ARunDrawnAgainFromItsSeedAndIndexIsTheSameRun)
{
    for (long index : {0L, 1L, 537L, 1199L}) {
        RunPlan first = drawRun(kSeed, index), again = drawRun(kSeed, index);
        EXPECT_EQ(first.seed, again.seed);
        EXPECT_EQ(first.deviceText, again.deviceText);
        EXPECT_EQ(first.imageText, again.imageText);
        EXPECT_EQ(first.faults, again.faults);
        EXPECT_NE(first.imageText, drawRun(kSeed + 1, index).imageText) << "another seed, another run";
    }
    EXPECT_NE(runSeed(kSeed, 1), runSeed(kSeed, 2));
}

TEST(FaultCampaignDraw, EveryDrawIsADeviceTheBankTakesAndAnImageTheEngineReadsAsExpected)
{
    std::map<Protocol, std::set<FaultKind>> kinds;
    long faultFree = 0;
    for (long index = 0; index < kDraws; ++index) {
        const RunPlan plan = drawRun(kSeed, index);
        SCOPED_TRACE(describe(plan));
        kinds[plan.protocol].insert(plan.kind);
        faultFree += plan.kind == FaultKind::kNone;
        EXPECT_EQ(plan.kind == FaultKind::kNone, plan.faults.empty());
        EXPECT_NO_THROW(modemsim::DeviceConfig::parse("port = 1\n" + plan.deviceText));
        EXPECT_GT(plan.allowanceSeconds, 0);
        if (plan.protocol == Protocol::kSiemens) {
            EXPECT_EQ(plan.imageText, plan.expectedSiemensFile);
            continue;
        }
        std::map<std::uint32_t, std::uint8_t> bytes;
        std::vector<std::uint8_t> inOrder;
        readImage(plan.imageText, &bytes, &inOrder);
        if (plan.protocol != Protocol::kDot) {
            EXPECT_EQ(bytes, plan.expectedFlash);
            continue;
        }
        // The dot devices take the data in file order from address 0, the last block padded with 0.
        ASSERT_GE(plan.expectedFlash.size(), inOrder.size());
        EXPECT_LT(plan.expectedFlash.size() - inOrder.size(), 128u);
        for (size_t i = 0; i < plan.expectedFlash.size(); ++i)
            EXPECT_EQ(i < inOrder.size() ? inOrder[i] : 0, plan.expectedFlash.at(static_cast<std::uint32_t>(i)));
    }
    // Each protocol meets every kind that applies to it, and there is a control group.
    for (const auto &entry : kinds) {
        const bool reportsVersion = entry.first == Protocol::kGeneric || entry.first == Protocol::kLucent;
        EXPECT_EQ(reportsVersion ? 11u : 10u, entry.second.size()) << protocolName(entry.first);
    }
    EXPECT_EQ(5u, kinds.size());
    EXPECT_GT(faultFree, kDraws / 10);
    EXPECT_LT(faultFree, kDraws / 5);
}

// A plan of one protocol for the judgement; only its protocol and device text matter there.
RunPlan planOf(Protocol protocol)
{
    RunPlan plan;
    plan.protocol = protocol;
    return plan;
}

// The maker's loader on the wire: "ATFLP\r", length, three address bytes, data, XOR of the data.
TranscriptFacts blockOnTheWire(std::vector<size_t> corrupted)
{
    TranscriptFacts facts;
    facts.hostBytes = "AT*FS\rATFLP\r";
    facts.hostBytes += std::string("\x00\x04\x00\x01\x00", 5);
    facts.hostBytes += std::string("\x11\x22\x33\x44", 4);
    facts.hostBytes += static_cast<char>(0x11 ^ 0x22 ^ 0x33 ^ 0x44);
    facts.hostBytes += "ATFLEND\r";
    facts.corruptedFromHost = std::move(corrupted);
    return facts;
}

TEST(FaultCampaignIntegrity, TheMakersLoaderMissesItsHeaderAndHitsThatCancelInTheXor)
{
    // Bytes 12-16 are the header, 17-20 the data, 21 the XOR byte.
    const struct {
        std::vector<size_t> corrupted;
        bool escapes;
    } cases[] = {
        {{13}, true},        // the length: not covered
        {{16}, true},        // the address: not covered
        {{18}, false},       // one data byte: the XOR differs
        {{21}, false},       // the XOR byte itself
        {{17, 19}, true},    // two equal flips cancel
        {{18, 21}, true},    // a data byte and the XOR byte flipped alike
        {{17, 18, 19}, false},
        {{2}, false},        // a command byte: no block was built from it
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.corrupted));
        EXPECT_EQ(c.escapes, faultEscapesIntegrityCheck(planOf(Protocol::kGeneric), blockOnTheWire(c.corrupted), {}));
    }
}

TEST(FaultCampaignIntegrity, RecordChecksumsCatchAHitLineAndOnlyTheUncheckedProtocolsLetItThrough)
{
    // One record of the data bytes 19 and 1C: a hit turns "9" into "c" (still a hex digit) and "c"
    // into "9". Bytes 14-15 and 16-17 are the data digits.
    TranscriptFacts facts;
    facts.hostBytes = "AT**\r:02001000191CB9\r\n:00000001FF\r\n";
    facts.corruptedFromHost = {15};
    EXPECT_FALSE(faultEscapesIntegrityCheck(planOf(Protocol::kRockwell), facts, {})) << "the checksum differs";
    EXPECT_FALSE(faultEscapesIntegrityCheck(planOf(Protocol::kLucent), facts, {}));
    // Siemens and dot blocks carry no check: any byte hit on the way in goes through.
    EXPECT_TRUE(faultEscapesIntegrityCheck(planOf(Protocol::kSiemens), facts, {}));
    EXPECT_TRUE(faultEscapesIntegrityCheck(planOf(Protocol::kDot), facts, {}));

    // 19 -> 1C and 1C -> 19 in one record: the sum is the same, the record passes its check.
    TranscriptFacts cancelling;
    cancelling.hostBytes = "AT**\r:02001000191cB9\r\n:00000001FF\r\n";
    cancelling.corruptedFromHost = {15, 17};
    EXPECT_TRUE(faultEscapesIntegrityCheck(planOf(Protocol::kRockwell), cancelling, {}));

    TranscriptFacts dropped;
    dropped.hostBytes = facts.hostBytes;
    dropped.droppedFromHost = {3};
    EXPECT_TRUE(faultEscapesIntegrityCheck(planOf(Protocol::kDot), dropped, {}));
    EXPECT_FALSE(faultEscapesIntegrityCheck(planOf(Protocol::kRockwell), dropped, {}));

    // A Lucent/Agere rejection whose answer was hit on its way back may read as "OK".
    TranscriptFacts answers;
    answers.droppedToHost = 1;
    EXPECT_FALSE(faultEscapesIntegrityCheck(planOf(Protocol::kLucent), answers, {}));
    EXPECT_TRUE(faultEscapesIntegrityCheck(planOf(Protocol::kLucent), answers, {{"lucent.answers", "3:NOK3"}}));
}

TEST(FaultCampaignCodes, OnlyTheResultsAProtocolDocumentsForAFailingDeviceCount)
{
    EXPECT_TRUE(documentedFailure(Protocol::kGeneric, 1));
    EXPECT_FALSE(documentedFailure(Protocol::kGeneric, 3)) << "a bad image is no device fault";
    EXPECT_TRUE(documentedFailure(Protocol::kLucent, 13));
    EXPECT_TRUE(documentedFailure(Protocol::kSiemens, 2)) << "RETRY at 57600 baud";
    EXPECT_FALSE(documentedFailure(Protocol::kRockwell, 5));
    EXPECT_FALSE(documentedFailure(Protocol::kDot, 0));
}

} // namespace
