// Simulated country modems with the sample catalogues beside a scratch "executable directory", so that
// the worker reads Country.ini and Models.ini and writes modem.ini where the test can see them.
#pragma once

#include "country/PortWriter/CountryClock.h"
#include "country/config/catalogue.h"
#include "country/config/executable_dir.h"
#include "fixtures/sim_bank_fixture.h"
#include "scratch_dir.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// Dialogues run with their real time-outs and pauses, shortened by this scale unless the environment
// already chose one. The worker's clock reads the scale once, so it is set before any test runs.
inline const bool kCountryTimeScaleSet = [] {
    setenv("SUITE_TIME_SCALE", "0.5", 0);
    return true;
}();

class SimCountryTest : public SimBankTest {
protected:
    void SetUp() override
    {
        SimBankTest::SetUp();
        for (const char* name : {"Country.ini", "Models.ini"})
            std::filesystem::copy_file(std::string(SUITE_SOURCE_DIR) + "/data/country/" + name, dir.file(name));
        SetExecutableDirectoryOverride(dir.path());
        ASSERT_TRUE(LoadCountries());
        ASSERT_TRUE(LoadModels());
    }

    void TearDown() override
    {
        FreeModels();
        FreeCountries();
        SetExecutableDirectoryOverride("");
        SimBankTest::TearDown();
    }

    // A simulated modem from data/sim/country on the given port, with its keys changed as asked.
    modemsim::Device& addCountryModem(const std::string& file, int port, const std::string& extraKeys = "")
    {
        modemsim::DeviceConfig config =
            modemsim::DeviceConfig::load(std::string(SUITE_SOURCE_DIR) + "/data/sim/country/" + file);
        config.set("port", std::to_string(port));
        if (!extraKeys.empty()) {
            modemsim::DeviceConfig extra = modemsim::DeviceConfig::parse(extraKeys);
            for (const auto& key : extra.keys)
                config.set(key.first, key.second);
        }
        return addDevice(config);
    }

    // Real milliseconds of a logical duration of the worker.
    static long RealMs(long logicalMs) { return static_cast<long>(CClock::ToRealMs(logicalMs)); }

    // What the device heard from the host. The worker is done as soon as the last answer came, while the
    // line feed after the last command may still be on its way: wait (bounded) until expected arrived.
    static std::string HostBytes(modemsim::Device& device, const std::string& expected = std::string())
    {
        std::string heard;
        for (int attempt = 0; attempt < 200; ++attempt) {
            heard = device.transcript().bytes(modemsim::Transcript::Direction::kFromHost);
            if (heard.size() >= expected.size())
                break;
            CClock::SleepMs(10);
        }
        return heard;
    }

    // When (transcript milliseconds) the device began to hear command from the host; -1 when it never did.
    static long long SentAt(modemsim::Device& device, const std::string& command)
    {
        std::string heard;
        std::vector<long long> times;  // the time of each byte heard
        for (const auto& entry : device.transcript().entries()) {
            if (entry.direction != modemsim::Transcript::Direction::kFromHost)
                continue;
            heard += entry.bytes;
            times.insert(times.end(), entry.bytes.size(), entry.ms);
        }
        size_t at = heard.find(command);
        return at == std::string::npos ? -1 : times[at];
    }

    ScratchDir dir;
};
