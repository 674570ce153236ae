// A port writer on a simulated device of the bank, with its traffic log in a scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "country/PortWriter/PortWriter.h"
#include "fixtures/sim_bank_fixture.h"
#include "portwriter_test_util.h"

namespace pw_testing {

// Records what a wait tells its observer.
class RecordingObserver : public CWaitObserver {
public:
    void OnWaitText(const std::string& text) override {
        std::lock_guard<std::mutex> hold(m_mutex);
        m_texts.push_back(text);
    }
    std::vector<std::string> Texts() {
        std::lock_guard<std::mutex> hold(m_mutex);
        return m_texts;
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
};

// A port writer that counts the blocks the read thread hands it.
class CountingPortWriter : public CPortWriter {
public:
    using CPortWriter::CPortWriter;
    void OnData(CPort* port, char* buffer, int length) override {
        ++blocks;
        CPortWriter::OnData(port, buffer, length);
    }
    std::atomic<int> blocks{0};
};

// The standard device of these tests, on COM3 at the program's 38400 bit/s.
inline std::string StandardDevice(const std::string& extra = std::string()) {
    return "port = 3\n"
           "speed = 38400\n"
           "ati.0 = Model 56000 Data/Fax Modem Version 3.14\n" +
           extra;
}

class PortWriterTest : public SimBankTest {
protected:
    // Opens a writer on COM3 (the device must be added first).
    void OpenWriter(int logMode = CPortWriter::kLogText) {
        writer_.reset(new CountingPortWriter(&observer_, nullptr, &stop_));
        ASSERT_TRUE(writer_->Open(&settings_, logMode, 0, true, LogPath()));
    }
    std::string LogPath() const { return scratch_.file("traffic.log"); }
    std::string Log() const { return UnwrappedTextLog(ReadFile(LogPath())); }

    void TearDown() override {
        writer_.reset();
        SimBankTest::TearDown();
    }

    ScratchDir scratch_;
    CPortSettings settings_{3, 38400, 8, 1, 0, 0};
    CEvent stop_;
    RecordingObserver observer_;
    std::unique_ptr<CountingPortWriter> writer_;
};

}  // namespace pw_testing
