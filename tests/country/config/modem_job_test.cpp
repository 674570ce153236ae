#include "country/config/ModemJob.h"
#include "country/config/ModemJobList.h"
#include "sim_country_fixture.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// Far beyond any dialogue here, so that only a hung worker ever reaches it.
const long kGenerousMs = 120000;

class ModemJobTest : public SimCountryTest {
protected:
    void TearDown() override
    {
        if (job != nullptr) {
            stop.Set();
            job->Wait(-1);
            job.reset();
        }
        SimCountryTest::TearDown();
    }

    CModemJob& StartJob(int port)
    {
        job = std::make_unique<CModemJob>(port, &stop, false);
        EXPECT_TRUE(job->Start());
        return *job;
    }

    // Identifies the modem on port, then configures it for country; true when it ended configured.
    bool IdentifyAndConfigure(int port, const std::string& country)
    {
        CModemJob& worker = StartJob(port);
        EXPECT_TRUE(worker.WaitUntilDone(kGenerousMs));
        EXPECT_EQ(1, worker.Identified());
        if (worker.Identified() != 1)
            return false;
        worker.SetCountry(country);
        worker.Go();
        EXPECT_TRUE(worker.WaitUntilDone(kGenerousMs));
        job->Wait(-1);  // the worker finishes after configuring: its port is closed then
        return worker.Identified() == 1;
    }

    CEvent stop;
    std::unique_ptr<CModemJob> job;
};

TEST_F(ModemJobTest, AgereWithoutAmpersandGSendsTheCountryAndStoresTheProfile)
{
    modemsim::Device& modem = addCountryModem("agere_ab12.txt", 3);
    dir.write("modem.ini", "[7]\r\nModelName=Other\r\nCommPort=7\r\n\r\n[3]\r\nModelName=Old\r\nExtra=kept\r\n");
    ASSERT_TRUE(IdentifyAndConfigure(3, "United States (US)"));
    EXPECT_EQ("AB12", job->ModelName());
    EXPECT_EQ("2", job->Version());
    EXPECT_EQ(1, job->CommandSet());
    EXPECT_EQ("ATV1\rATI\rAT%T19,0,b5\r\nAT&F&W\r\n", HostBytes(modem, "ATV1\rATI\rAT%T19,0,b5\r\nAT&F&W\r\n"));
    EXPECT_EQ("b5", modem.state().country());
    EXPECT_EQ("[7]\r\nModelName=Other\r\nCommPort=7\r\n\r\n"
              "[3]\r\nModelName=AB12\r\nExtra=kept\r\nCountryName=United States (US)\r\nCountryCode=b5\r\n"
              "CommandSetName=Agere\r\nCommandSet=1\r\nCommPort=3\r\n",
              dir.read("modem.ini"));
}

TEST_F(ModemJobTest, AgereWithAmpersandGOpensAndClosesTheCountryTables)
{
    modemsim::Device& modem = addCountryModem("agere_ab12x.txt", 4);
    ASSERT_TRUE(IdentifyAndConfigure(4, "Germany (DE)"));
    EXPECT_EQ("AB12-X", job->ModelName());
    EXPECT_EQ("3", job->Version());
    EXPECT_EQ("ATV1\rATI\rAT&G\r\nAT%T19,0,fd\r\nAT&F&W\r\nAT&G1\r\n", HostBytes(modem, "ATV1\rATI\rAT&G\r\nAT%T19,0,fd\r\nAT&F&W\r\nAT&G1\r\n"));
    EXPECT_EQ("fd", modem.state().country());
    EXPECT_EQ("closed", modem.state().value("country.guard"));
    EXPECT_EQ("[4]\r\nModelName=AB12-X\r\nCountryName=Germany (DE)\r\nCountryCode=fd\r\nCommandSetName=Agere\r\n"
              "CommandSet=1\r\nCommPort=4\r\n",
              dir.read("modem.ini"));
}

TEST_F(ModemJobTest, ConexantSendsTheDecimalCodeAndResets)
{
    modemsim::Device& modem = addCountryModem("conexant_cx56000.txt", 5);
    ASSERT_TRUE(IdentifyAndConfigure(5, "Germany (DE)"));
    EXPECT_EQ("CX56000", job->ModelName());
    EXPECT_EQ("ATV1\rATI\rAT*NC22\r\nAT&F&W&W1\r\nATZ\r\n", HostBytes(modem, "ATV1\rATI\rAT*NC22\r\nAT&F&W&W1\r\nATZ\r\n"));
    EXPECT_EQ("22", modem.state().country());
    EXPECT_EQ("[5]\r\nModelName=CX56000\r\nCountryName=Germany (DE)\r\nCountryCode=16\r\n"
              "CommandSetName=Conexant\r\nCommandSet=2\r\nCommPort=5\r\n",
              dir.read("modem.ini"));
}

TEST_F(ModemJobTest, Conexant2PausesAfterTheCountryAndBeforeTheReset)
{
    modemsim::Device& modem = addCountryModem("conexant2_cx2400.txt", 6);
    ASSERT_TRUE(IdentifyAndConfigure(6, "Norway (NO)"));
    EXPECT_EQ("4", job->Version());
    EXPECT_EQ("ATV1\rATI\rAT+GCI=82\r\nAT&F&W&W1\r\nATZ\r\n", HostBytes(modem, "ATV1\rATI\rAT+GCI=82\r\nAT&F&W&W1\r\nATZ\r\n"));
    EXPECT_EQ("82", modem.state().country());
    const long long country = SentAt(modem, "AT+GCI=82\r\n");
    const long long store = SentAt(modem, "AT&F&W&W1\r\n");
    const long long reset = SentAt(modem, "ATZ\r\n");
    ASSERT_GE(country, 0);
    // Milliseconds of the transcript are whole: allow one for rounding.
    EXPECT_GE(store - country, RealMs(1000) - 1);
    EXPECT_GE(reset - store, RealMs(1000) - 1);
    EXPECT_EQ("[6]\r\nModelName=CX2400\r\nCountryName=Norway (NO)\r\nCountryCode=82\r\n"
              "CommandSetName=Conexant2\r\nCommandSet=3\r\nCommPort=6\r\n",
              dir.read("modem.ini"));
}

TEST_F(ModemJobTest, Conexant3ComesFromTheVersionLockAndPausesLikeConexant2)
{
    modemsim::Device& modem = addCountryModem("conexant_mx200.txt", 8);
    ASSERT_TRUE(IdentifyAndConfigure(8, "France (FR)"));
    EXPECT_EQ("MX200", job->ModelName());
    EXPECT_EQ("5", job->Version());
    EXPECT_EQ(4, job->CommandSet());
    EXPECT_EQ("ATV1\rATI\rATI2\rATI1\rATI4\rAT+GCI=3d\r\nAT&F&W&W1\r\nATZ\r\n", HostBytes(modem, "ATV1\rATI\rATI2\rATI1\rATI4\rAT+GCI=3d\r\nAT&F&W&W1\r\nATZ\r\n"));
    EXPECT_GE(SentAt(modem, "AT&F&W&W1\r\n") - SentAt(modem, "AT+GCI=3d\r\n"), RealMs(1000) - 1);
    EXPECT_GE(SentAt(modem, "ATZ\r\n") - SentAt(modem, "AT&F&W&W1\r\n"), RealMs(1000) - 1);
    EXPECT_EQ("[8]\r\nModelName=MX200\r\nCountryName=France (FR)\r\nCountryCode=3d\r\n"
              "CommandSetName=Conexant3\r\nCommandSet=4\r\nCommPort=8\r\n",
              dir.read("modem.ini"));
}

TEST_F(ModemJobTest, Agere2IsIdentifiedFromTheLastQuestion)
{
    modemsim::Device& modem = addCountryModem("agere2_ag500.txt", 9);
    ASSERT_TRUE(IdentifyAndConfigure(9, "United Kingdom (GB)"));
    EXPECT_EQ("AG500", job->ModelName());
    EXPECT_EQ("6", job->Version());
    EXPECT_EQ("ATV1\rATI\rATI2\rATI1\rATI4\rATI3\rAT%T19,0,b4\r\nAT&F&W\r\n", HostBytes(modem, "ATV1\rATI\rATI2\rATI1\rATI4\rATI3\rAT%T19,0,b4\r\nAT&F&W\r\n"));
    EXPECT_EQ("[9]\r\nModelName=AG500\r\nCountryName=United Kingdom (GB)\r\nCountryCode=b4\r\n"
              "CommandSetName=Agere2\r\nCommandSet=5\r\nCommPort=9\r\n",
              dir.read("modem.ini"));
}

TEST_F(ModemJobTest, AVersionWithoutALockUsesTheDefaultCommandSet)
{
    modemsim::Device& modem = addCountryModem("conexant_mx200.txt", 10, "ati.1 = Boot_V7.01\n");
    ASSERT_TRUE(IdentifyAndConfigure(10, "France (FR)"));
    EXPECT_EQ("7", job->Version());
    EXPECT_EQ(2, job->CommandSet());
    EXPECT_EQ("ATV1\rATI\rATI2\rATI1\rATI4\rAT*NC61\r\nAT&F&W&W1\r\nATZ\r\n", HostBytes(modem, "ATV1\rATI\rATI2\rATI1\rATI4\rAT*NC61\r\nAT&F&W&W1\r\nATZ\r\n"));
}

TEST_F(ModemJobTest, AModemThatStopsAnsweringMidSequenceLeavesNoRecord)
{
    modemsim::Device& modem = addCountryModem("agere_hangs.txt", 11);
    dir.write("modem.ini", "[2]\r\nCommPort=2\r\n");
    EXPECT_FALSE(IdentifyAndConfigure(11, "United States (US)"));
    EXPECT_EQ(0, job->Identified());
    EXPECT_TRUE(job->Done());
    // What was already sent stays in effect in the modem.
    EXPECT_EQ("b5", modem.state().country());
    EXPECT_EQ("ATV1\rATI\rAT%T19,0,b5\r\nAT&F&W\r\n", HostBytes(modem, "ATV1\rATI\rAT%T19,0,b5\r\nAT&F&W\r\n"));
    EXPECT_EQ("[2]\r\nCommPort=2\r\n", dir.read("modem.ini"));
}

TEST_F(ModemJobTest, ACountryThatIsNotInTheCatalogueSendsNothing)
{
    modemsim::Device& modem = addCountryModem("agere_ab12.txt", 12);
    EXPECT_FALSE(IdentifyAndConfigure(12, "Atlantis (XX)"));
    EXPECT_EQ("ATV1\rATI\r", HostBytes(modem, "ATV1\rATI\r"));
    EXPECT_FALSE(dir.exists("modem.ini"));
}

TEST_F(ModemJobTest, AnUnknownModelIsNotIdentifiedAfterEveryQuestion)
{
    modemsim::Device& modem = addCountryModem("unknown_model.txt", 13);
    CModemJob& worker = StartJob(13);
    ASSERT_TRUE(worker.WaitUntilDone(kGenerousMs));
    EXPECT_EQ(0, worker.Identified());
    EXPECT_EQ("ATV1\rATI\rATI2\rATI1\rATI4\rATI3\r", HostBytes(modem, "ATV1\rATI\rATI2\rATI1\rATI4\rATI3\r"));
}

TEST_F(ModemJobTest, AModemThatNeverAnswersEndsTheWorkerUnidentified)
{
    modemsim::Device& modem = addCountryModem("agere_ab12.txt", 14, "fault.silent = on\n");
    CModemJob& worker = StartJob(14);
    ASSERT_TRUE(worker.WaitUntilDone(kGenerousMs));
    EXPECT_EQ(0, worker.Identified());
    EXPECT_EQ("ATV1\r", HostBytes(modem, "ATV1\r"));
}

TEST_F(ModemJobTest, APortWithoutDeviceEndsTheWorkerAtOnce)
{
    CModemJob& worker = StartJob(15);
    ASSERT_TRUE(worker.WaitUntilDone(kGenerousMs));
    EXPECT_EQ(0, worker.Identified());
    // Go on a finished worker changes nothing.
    worker.Go();
    EXPECT_TRUE(worker.Done());
}

TEST_F(ModemJobTest, APortNumberBeyondWhatAPortCanBeNamedOpensNoOtherPort)
{
    // 259 cut to one byte is 3: the modem there must not be taken for the one on COM259.
    modemsim::Device& modem = addCountryModem("agere_ab12.txt", 3);
    CModemJob& worker = StartJob(259);
    ASSERT_TRUE(worker.WaitUntilDone(kGenerousMs));
    EXPECT_EQ(0, worker.Identified());
    ASSERT_TRUE(job->Wait(kGenerousMs));
    EXPECT_EQ("", HostBytes(modem, ""));
}

TEST_F(ModemJobTest, StopWhileReadyKeepsTheModemIdentified)
{
    modemsim::Device& modem = addCountryModem("conexant_cx56000.txt", 16);
    CModemJob& worker = StartJob(16);
    ASSERT_TRUE(worker.WaitUntilDone(kGenerousMs));
    ASSERT_EQ(1, worker.Identified());
    worker.Stop();
    ASSERT_TRUE(job->Wait(kGenerousMs));
    EXPECT_EQ(1, worker.Identified());
    EXPECT_EQ("ATV1\rATI\r", HostBytes(modem, "ATV1\rATI\r"));
}

TEST_F(ModemJobTest, StopDuringIdentificationEndsTheWorkerUnidentified)
{
    modemsim::Device& modem = addCountryModem("conexant_cx56000.txt", 17);
    CModemJob& worker = StartJob(17);
    worker.Stop();
    ASSERT_TRUE(job->Wait(kGenerousMs));
    EXPECT_EQ(0, worker.Identified());
    EXPECT_TRUE(worker.Done());
    EXPECT_EQ("", HostBytes(modem, ""));
}

class ScanTest : public SimCountryTest {};

TEST_F(ScanTest, ThreeModemsAmongThirtySixPortsAreIdentifiedInParallel)
{
    addCountryModem("agere_ab12.txt", 5);
    addCountryModem("conexant_cx56000.txt", 17);
    addCountryModem("conexant2_cx2400.txt", 30);
    CModemJobList jobs;
    const auto started = std::chrono::steady_clock::now();
    jobs.StartScan(false);
    ASSERT_EQ(36u, jobs.Count());
    for (size_t i = 0; i < jobs.Count(); ++i) {
        CModemJob* job = jobs.At(i);
        EXPECT_EQ(static_cast<int>(i) + 1, job->PortNumber());
        EXPECT_EQ("COM" + std::to_string(i + 1), job->PortName());
        if (job->PortNumber() == 5 || job->PortNumber() == 17 || job->PortNumber() == 30) {
            ASSERT_TRUE(job->WaitUntilDone(kGenerousMs));
        }
    }
    const long elapsed = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
    // One probe takes at least the 4 s power-up and a 1 s pause; probing one port after another would take
    // at least three of them. Parallel probing takes little more than one, which leaves a loaded machine
    // almost two probes of slack below that bound.
    EXPECT_LT(elapsed, 3 * RealMs(5000)) << elapsed << " ms";

    for (int attempt = 0; !jobs.AllDone(); ++attempt) {
        ASSERT_LT(attempt, 1200);
        CClock::SleepMs(100);
    }
    ASSERT_EQ(3u, jobs.Count());
    EXPECT_EQ("AB12", jobs.At(0)->ModelName());
    EXPECT_EQ(5, jobs.At(0)->PortNumber());
    EXPECT_EQ("CX56000", jobs.At(1)->ModelName());
    EXPECT_EQ("CX2400", jobs.At(2)->ModelName());
    for (size_t i = 0; i < jobs.Count(); ++i)
        EXPECT_EQ(1, jobs.At(i)->Identified());
    jobs.DeleteAll();
    EXPECT_EQ(0u, jobs.Count());
}

TEST_F(ScanTest, ARestartedWorkerFreesThePortAndIdentifiesTheModemAgain)
{
    modemsim::Device& modem = addCountryModem("agere_ab12.txt", 4);
    CModemJobList jobs;
    CModemJob* other = jobs.StartJob(2, false);
    CModemJob* first = jobs.StartJob(4, false);
    ASSERT_NE(nullptr, first);
    ASSERT_TRUE(first->WaitUntilDone(kGenerousMs));
    ASSERT_EQ(1, first->Identified());
    const size_t heard = modem.state().commands().size();

    CModemJob* second = jobs.RestartJob(first, false);
    ASSERT_NE(nullptr, second);
    ASSERT_EQ(2u, jobs.Count());
    EXPECT_EQ(other, jobs.At(0));
    EXPECT_EQ(second, jobs.At(1));  // in the old worker's place
    EXPECT_EQ(4, second->PortNumber());
    // A second open of the port would fail while the first worker held it: identifying again proves
    // that the old worker let it go.
    ASSERT_TRUE(second->WaitUntilDone(kGenerousMs));
    EXPECT_EQ(1, second->Identified());
    EXPECT_EQ("AB12", second->ModelName());
    EXPECT_GT(modem.state().commands().size(), heard);

    int outsider = 0;
    EXPECT_EQ(nullptr, jobs.RestartJob(reinterpret_cast<CModemJob*>(&outsider), false));
    EXPECT_EQ(2u, jobs.Count());
    jobs.DeleteAll();
}

}  // namespace
