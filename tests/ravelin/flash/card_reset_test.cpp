// The card port reset against a fake management driver that records every request.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "ravelin/flash/card_reset.h"
#include "ravelin/flash/flsh.h"

namespace {

struct Request {
    std::uint32_t code;
    std::vector<std::uint8_t> input;
    std::uint32_t outputLen;
};

struct FakeDriver {
    bool openOk = true;
    bool cardsOk = true;
    std::vector<std::uint8_t> cards;                    // the 17-byte answer
    std::vector<std::vector<std::uint8_t>> portsOfCard;  // by card number: the 192-byte answer
    std::vector<std::uint8_t> failPortsOfCard;
    std::vector<Request> requests;
    int opens = 0, closes = 0;
    std::string device;

    static int open(void *ctx, const char *name, std::uint32_t *err)
    {
        auto *self = static_cast<FakeDriver *>(ctx);
        ++self->opens;
        self->device = name;
        *err = 5;
        return self->openOk;
    }
    static int control(void *ctx, std::uint32_t code, const void *in, std::uint32_t inLen, void *out,
                       std::uint32_t outLen, std::uint32_t *err)
    {
        auto *self = static_cast<FakeDriver *>(ctx);
        const auto *bytes = static_cast<const std::uint8_t *>(in);
        self->requests.push_back({code, std::vector<std::uint8_t>(bytes, bytes + inLen), outLen});
        *err = 31;
        if (code == flsh_kCardListCards) {
            if (!self->cardsOk) return 0;
            std::memcpy(out, self->cards.data(), std::min<std::size_t>(outLen, self->cards.size()));
            return 1;
        }
        if (code == flsh_kCardListPorts) {
            for (std::uint8_t failing : self->failPortsOfCard)
                if (failing == bytes[0]) return 0;
            const auto &ports = self->portsOfCard.at(bytes[0]);
            if (!ports.empty()) std::memcpy(out, ports.data(), std::min<std::size_t>(outLen, ports.size()));
            return 1;
        }
        return code == flsh_kCardResetPort;
    }
    static void close(void *ctx) { ++static_cast<FakeDriver *>(ctx)->closes; }

    flsh_CardDriver driver{this, &FakeDriver::open, &FakeDriver::control, &FakeDriver::close};
};

std::vector<std::uint8_t> portList(std::initializer_list<std::uint8_t> comNumbers)
{
    std::vector<std::uint8_t> list(flsh_kPortListLen, 0);
    std::size_t i = 0;
    for (std::uint8_t com : comNumbers)
        list[i++ * flsh_kPortEntryLen] = com;
    return list;
}

class CardResetTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM12"));
        // Two cards, listed out of order: card 3 with 4 ports, card 1 with 8 ports.
        fake.cards = {2, 3, 0, 4, 0, 1, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
        fake.portsOfCard.resize(4);
        fake.portsOfCard[1] = portList({5, 6, 7, 8, 9, 10, 11, 13});
        fake.portsOfCard[3] = portList({14, 15, 12, 16});
        flsh_SetCardDriver(&fake.driver);
    }
    void TearDown() override
    {
        flsh_SetCardDriver(nullptr);
        flsh_FreeDeviceUpdate(&update);
    }
    DeviceUpdate update;
    FakeDriver fake;
};

TEST_F(CardResetTest, FindsThePortOnTheCardsInCardOrderAndResetsIt)
{
    flsh_ResetCardPort(&update);
    EXPECT_EQ("\\\\.\\OctaMgmt", fake.device);
    ASSERT_EQ(4u, fake.requests.size());
    EXPECT_EQ(flsh_kCardListCards, fake.requests[0].code);
    EXPECT_TRUE(fake.requests[0].input.empty());
    EXPECT_EQ(17u, fake.requests[0].outputLen);
    // Cards asked in ascending card number, one byte of input each, 192 bytes of output.
    EXPECT_EQ(flsh_kCardListPorts, fake.requests[1].code);
    EXPECT_EQ(std::vector<std::uint8_t>{1}, fake.requests[1].input);
    EXPECT_EQ(192u, fake.requests[1].outputLen);
    EXPECT_EQ(std::vector<std::uint8_t>{3}, fake.requests[2].input);
    // COM12 is the third port (index 2) of card 3: 3 * 16 + 2 = 50, four bytes.
    EXPECT_EQ(flsh_kCardResetPort, fake.requests[3].code);
    EXPECT_EQ((std::vector<std::uint8_t>{50, 0, 0, 0}), fake.requests[3].input);
    EXPECT_EQ(1, fake.closes);
}

TEST_F(CardResetTest, OnlyThePortsTheCardHasAreLookedAt)
{
    // COM12 sits in card 1's list beyond its port count: not a port of that card.
    fake.portsOfCard[1] = portList({5, 6, 7, 8, 9, 10, 11, 13, 12});
    fake.portsOfCard[3] = portList({14});
    flsh_ResetCardPort(&update);
    for (const Request &r : fake.requests)
        EXPECT_NE(flsh_kCardResetPort, r.code);
}

TEST_F(CardResetTest, FailuresStopOrSkipAsTheyShould)
{
    fake.openOk = false;
    flsh_ResetCardPort(&update);
    EXPECT_TRUE(fake.requests.empty());

    fake.openOk = true;
    fake.cardsOk = false;
    flsh_ResetCardPort(&update);
    ASSERT_EQ(1u, fake.requests.size());

    fake.requests.clear();
    fake.cardsOk = true;
    fake.failPortsOfCard = {1};
    flsh_ResetCardPort(&update);
    ASSERT_EQ(4u, fake.requests.size());  // card 1 failed, card 3 still searched and reset
    EXPECT_EQ(flsh_kCardResetPort, fake.requests.back().code);
}

TEST_F(CardResetTest, ACountAboveFourCardsReadsOnlyTheAnswer)
{
    fake.cards[0] = 200;
    fake.portsOfCard.resize(256, portList({}));
    flsh_ResetCardPort(&update);
    int listed = 0;
    for (const Request &r : fake.requests)
        listed += r.code == flsh_kCardListPorts;
    EXPECT_EQ(4, listed);
}

TEST(CardReset, ShippedBackendHasNoDriverAndTheResetGoesOn)
{
    DeviceUpdate update;
    ASSERT_EQ(1, flsh_InitDeviceUpdate(&update, "\\\\.\\COM2"));
    flsh_ResetCardPort(&update);  // must neither crash nor block
    flsh_FreeDeviceUpdate(&update);
    EXPECT_EQ(2u, flsh_PortNumber("\\\\.\\COM2"));
    EXPECT_EQ(36u, flsh_PortNumber("\\\\.\\COM36"));
    EXPECT_EQ(0u, flsh_PortNumber("\\\\.\\/dev/ttyUSB0"));
}

} // namespace
