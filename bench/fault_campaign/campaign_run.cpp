// Running the campaign: one thread per simulated device, several at once, a watchdog over each
// run's allowance, and the checks of every run (port free again, memory, result code) and of every
// group of runs (descriptors, threads and temporary files left behind).
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "bench/fault_campaign/campaign.h"
#include "ravelin/flash/flsh.h"
#include "ravelin/protocols/flsh_choice.h"
#include "ravelin/support/osclock.h"
#include "ravelin/support/oswin32.h"
#include "tools/modemsim/modemsim.h"

namespace campaign {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Grace after a watchdog's cancel for every update still running to stop; past it the campaign
// gives up, as an update that ignores its cancel would hang a real run for ever.
constexpr int kCancelGraceSeconds = 120;

void writeFile(const std::string &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

long countEntries(const std::string &dir, const std::string &prefix = "")
{
    long count = 0;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (prefix.empty() || it->path().filename().string().rfind(prefix, 0) == 0)
            ++count;
    return count;
}

// A loader of records of a fixed pattern at 0x8000 and its end record; the number of lines is what
// the allowance of a full flash counts on (fault_draw.cpp).
std::string loaderFile(int records, std::uint8_t seed)
{
    std::string text;
    for (int r = 0; r < records; ++r) {
        std::vector<std::uint8_t> data(16);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<std::uint8_t>(seed + r * 3 + static_cast<int>(i));
        text += hexRecord(0, static_cast<std::uint32_t>(0x8000 + r * 16), data);
    }
    return text + ":00000001FF\r\n";
}

// What the process holds while no update runs: compared after each group of runs.
struct Holdings {
    long descriptors = 0;
    long threads = 0;
    long tempFiles = 0;
    // More of anything than before: something was left behind.
    bool exceeds(const Holdings &other) const
    {
        return descriptors > other.descriptors || threads > other.threads || tempFiles > other.tempFiles;
    }
};

// The campaign's private directory: the files the protocols look up beside the program, the
// images, the bank's ports, and the temporary directory the engine sorts images into.
struct Workspace {
    std::string root;
    std::string ports;
    std::string images;
    std::string temp;

    Workspace()
    {
        std::string pattern = (fs::temp_directory_path() / "fault-campaign-XXXXXX").string();
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr)
            throw std::runtime_error("cannot make the campaign's directory");
        root = name.data();
        ports = root + "/ports";
        images = root + "/images";
        temp = root + "/tmp";
        fs::create_directories(ports);
        fs::create_directories(images);
        fs::create_directories(temp);
        // Loader files of our own: the Lucent/Agere new loaders (4 and 3 records and their end
        // record) and a small Rockwell loader under the name taken when the catalogue names none.
        writeFile(root + "/NewFlashLdr.hex", loaderFile(4, 0x30));
        writeFile(root + "/OcmFldr.hex", loaderFile(3, 0x90));
        writeFile(root + "/F35Aload.s37",
                  "S0030000FC\r\nS2140000000102030405060708090A0B0C0D0E0F1043\r\nS9030000FC\r\n");
        os_SetExeDirForTesting(root.c_str());
        setenv("SERIAL_PORTS_DIR", ports.c_str(), 1);
        setenv("TMPDIR", temp.c_str(), 1);
    }
    ~Workspace()
    {
        os_SetExeDirForTesting(nullptr);
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    Holdings holdings() const
    {
        Holdings now;
        now.descriptors = countEntries("/proc/self/fd");
        now.threads = countEntries("/proc/self/task");
        now.tempFiles = countEntries(temp, "ravelin-sort-");
        return now;
    }

    // Device threads are detached: one that has just handed over its result may still be on its
    // way out when the group ends. What is still held after a short settling time was left behind.
    Holdings settledHoldings(const Holdings &baseline) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        Holdings now = holdings();
        while (now.exceeds(baseline) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            now = holdings();
        }
        return now;
    }
};

TranscriptFacts factsOf(const modemsim::Transcript &transcript)
{
    TranscriptFacts facts;
    for (const modemsim::Transcript::Entry &entry : transcript.entries()) {
        if (entry.direction == modemsim::Transcript::Direction::kFromHost) {
            facts.hostBytes += entry.bytes;
            continue;
        }
        if (entry.direction != modemsim::Transcript::Direction::kNote || entry.bytes.find("fault") == std::string::npos)
            continue;
        // A byte fault's note follows the byte it acted on.
        const size_t last = facts.hostBytes.empty() ? 0 : facts.hostBytes.size() - 1;
        if (entry.bytes == "fault: corrupted a byte from the host")
            facts.corruptedFromHost.push_back(last);
        else if (entry.bytes == "fault: dropped a byte from the host")
            facts.droppedFromHost.push_back(last);
        else if (entry.bytes == "fault: corrupted a byte to the host")
            ++facts.corruptedToHost;
        else if (entry.bytes == "fault: dropped a byte to the host")
            ++facts.droppedToHost;
        else
            ++facts.otherFaultNotes;
    }
    return facts;
}

bool anyFaultNoted(const TranscriptFacts &facts)
{
    return !facts.corruptedFromHost.empty() || !facts.droppedFromHost.empty() || facts.corruptedToHost > 0 ||
           facts.droppedToHost > 0 || facts.otherFaultNotes > 0;
}

// Empty when the device holds exactly what the plan expects; else where it first differs.
std::string memoryDifference(const RunPlan &plan, modemsim::Device &device)
{
    if (plan.protocol == Protocol::kSiemens) {
        const std::string held = device.state().value("siemens.file");
        if (held == plan.expectedSiemensFile)
            return "";
        size_t at = 0;
        while (at < held.size() && at < plan.expectedSiemensFile.size() && held[at] == plan.expectedSiemensFile[at])
            ++at;
        return "the module holds " + std::to_string(held.size()) + " bytes, the file has " +
               std::to_string(plan.expectedSiemensFile.size()) + "; first difference at " + std::to_string(at);
    }
    const modemsim::FlashMemory &flash = device.state().flash;
    std::uint32_t top = flash.extent();
    if (!plan.expectedFlash.empty())
        top = std::max(top, plan.expectedFlash.rbegin()->first + 1);
    const std::vector<std::uint8_t> held = flash.read(0, top);
    for (std::uint32_t address = 0; address < top; ++address) {
        auto expected = plan.expectedFlash.find(address);
        const std::uint8_t want = expected == plan.expectedFlash.end() ? modemsim::FlashMemory::kErased : expected->second;
        if (held[address] != want) {
            char text[96];
            std::snprintf(text, sizeof text, "flash at 0x%05X holds 0x%02X, the image 0x%02X", static_cast<unsigned>(address),
                          held[address], want);
            return text;
        }
    }
    return "";
}

// The port is free for the next program at once (unless the simulated line is down for good: then
// it has no COM name to open).
void checkPortFree(const RunPlan &plan, modemsim::Device &device, const std::string &portName, RunOutcome &outcome)
{
    if (!device.connected() && plan.reconnectMs >= 0)
        device.waitForLine(device.lineGeneration() + 1, static_cast<long>(os_ScaleMs(plan.reconnectMs)) + 10000);
    if (!device.connected())
        return;
    outcome.reopenChecked = true;
    UrsPort port{};
    outcome.reopened = urs_OpenPort(&port, portName.c_str()) == URS_OK;
    if (outcome.reopened)
        urs_ClosePort(&port);
    else
        outcome.problems.push_back("the port could not be opened again right after the update");
}

void fillUpdate(const RunPlan &plan, const std::string &imagePath, DeviceUpdate &update)
{
    os_CopyBounded(update.szImagePath, imagePath.c_str(), os_kPathLen);
    update.flags = plan.flags;
    update.nSpeed = plan.speed;
    update.flashMode = plan.flashMode;
    update.restoreDefaults = plan.restoreDefaults;
    update.keepBootSector = plan.keepBootSector;
    update.afterFlash = plan.afterFlash;
    update.identity.nLucentVariant = plan.lucentVariant;
    update.identity.lucent.nType = plan.lucentType;
    os_CopyBounded(update.identity.szModel, plan.family.c_str(), sizeof update.identity.szModel);
}

void judge(const RunPlan &plan, modemsim::Device &device, RunOutcome &outcome)
{
    const TranscriptFacts facts = factsOf(device.transcript());
    outcome.faultActed = plan.faultActsByConstruction || anyFaultNoted(facts);
    outcome.memoryDiff = memoryDifference(plan, device);
    outcome.memoryExact = outcome.memoryDiff.empty();
    if (outcome.result == FR_SUCCESSFUL) {
        if (outcome.memoryExact)
            return;
        outcome.undetectable = faultEscapesIntegrityCheck(plan, facts, device.state().values());
        if (!outcome.undetectable)
            outcome.problems.push_back("success, but " + outcome.memoryDiff);
        return;
    }
    if (outcome.cancelledByWatchdog && outcome.result == FR_ABORTED)
        return;
    if (!documentedFailure(plan.protocol, outcome.result))
        outcome.problems.push_back("result " + std::to_string(outcome.result) + " (" + flsh_ResultText(outcome.result) +
                                   ") is not one the protocol documents for a failing device");
    if (!outcome.faultActed)
        outcome.problems.push_back("failed with result " + std::to_string(outcome.result) + " though no fault acted");
}

void runOne(const Workspace &workspace, const RunPlan &plan, int port, RunOutcome &outcome, const Options &options)
{
    outcome.index = plan.index;
    const std::string imagePath = workspace.images + "/RUN" + std::to_string(plan.index) + plan.imageSuffix;
    writeFile(imagePath, plan.imageText);
    try {
        modemsim::Bank bank(workspace.ports);
        modemsim::Device &device = bank.add("port = " + std::to_string(port) + "\n" + plan.deviceText);
        bank.start();
        const std::string portName = modemsim::Bank::portName(port);
        DeviceUpdate update;
        flsh_InitDeviceUpdate(&update, portName.c_str());
        fillUpdate(plan, imagePath, update);
        const Clock::time_point start = Clock::now();
        flsh_RunProtocol(&update);
        outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        outcome.result = update.nResult;
        // The watchdog's cancel reaches every update in flight, not only the one that hung.
        outcome.cancelledByWatchdog = flsh_IsCancelled();
        checkPortFree(plan, device, portName, outcome);
        bank.stop();
        judge(plan, device, outcome);
        if (options.verbose && (runFailed(outcome) || outcome.undetectable))
            std::fprintf(stderr, "run %ld (%s) transcript:\n%s\n", plan.index,
                         outcome.memoryExact ? "memory exact" : outcome.memoryDiff.c_str(),
                         device.transcript().text().c_str());
        flsh_FreeDeviceUpdate(&update);
    } catch (const std::exception &error) {
        outcome.problems.push_back(std::string("the simulated device could not be set up: ") + error.what());
    }
    std::remove(imagePath.c_str());
}

// The runs in flight, their deadlines, and the watchdog.
class Scheduler {
public:
    Scheduler(const Options &options, const Workspace &workspace, const std::vector<RunPlan> &plans,
              std::vector<RunOutcome> &outcomes)
        : m_options(options), m_workspace(workspace), m_plans(plans), m_outcomes(outcomes),
          m_slots(static_cast<size_t>(options.parallel))
    {
    }

    void run()
    {
        Holdings baseline = m_workspace.holdings();
        size_t next = 0;
        while (next < m_plans.size()) {
            const size_t groupEnd = std::min(m_plans.size(), next + static_cast<size_t>(m_options.groupSize));
            const size_t groupStart = next;
            while (next < groupEnd || busy() > 0) {
                if (next < groupEnd && !m_cancelled && freeSlot() >= 0) {
                    start(next++);
                    continue;
                }
                waitForOne();
            }
            if (m_cancelled) {
                flsh_ClearCancelForTesting();
                m_cancelled = false;
            }
            const Holdings now = m_workspace.settledHoldings(baseline);
            if (now.exceeds(baseline)) {
                char text[160];
                std::snprintf(text, sizeof text,
                              "left behind after runs %zu-%zu: descriptors %ld -> %ld, threads %ld -> %ld, "
                              "temporary files %ld -> %ld",
                              groupStart, groupEnd - 1, baseline.descriptors, now.descriptors, baseline.threads,
                              now.threads, baseline.tempFiles, now.tempFiles);
                for (size_t i = groupStart; i < groupEnd; ++i) {
                    m_outcomes[i].leak = true;
                    m_outcomes[i].problems.push_back(text);
                }
                baseline = now;
            }
            if (m_plans.size() > 1)
                std::fprintf(stderr, "  %zu of %zu runs done\n", next, m_plans.size());
        }
    }

private:
    struct Slot {
        std::thread thread;
        long planIndex = -1;
        Clock::time_point deadline;
        bool done = false;
        bool hung = false;
    };

    int freeSlot() const
    {
        for (size_t i = 0; i < m_slots.size(); ++i)
            if (m_slots[i].planIndex < 0)
                return static_cast<int>(i);
        return -1;
    }
    int busy() const
    {
        int n = 0;
        for (const Slot &slot : m_slots)
            n += slot.planIndex >= 0;
        return n;
    }

    void start(size_t planPosition)
    {
        const int slotIndex = freeSlot();
        Slot &slot = m_slots[static_cast<size_t>(slotIndex)];
        const RunPlan &plan = m_plans[planPosition];
        RunOutcome &outcome = m_outcomes[planPosition];
        const double bound = plan.allowanceSeconds * m_options.scale * 1.25 + 20.0;
        slot.planIndex = static_cast<long>(planPosition);
        slot.deadline = Clock::now() + std::chrono::milliseconds(static_cast<long>(bound * 1000));
        slot.done = false;
        slot.hung = false;
        outcome.ended = true;
        slot.thread = std::thread([this, slotIndex, &plan, &outcome] {
            runOne(m_workspace, plan, slotIndex + 1, outcome, m_options);
            std::lock_guard<std::mutex> lock(m_mutex);
            m_slots[static_cast<size_t>(slotIndex)].done = true;
            m_cv.notify_all();
        });
    }

    // Joins every finished run; a run past its deadline is reported as a hang and every update is
    // told to stop.
    void waitForOne()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        Clock::time_point wake = Clock::now() + std::chrono::seconds(kCancelGraceSeconds);
        for (const Slot &slot : m_slots)
            if (slot.planIndex >= 0 && !slot.hung && slot.deadline < wake)
                wake = slot.deadline;
        m_cv.wait_until(lock, wake, [this] {
            for (const Slot &slot : m_slots)
                if (slot.planIndex >= 0 && slot.done)
                    return true;
            return false;
        });
        const Clock::time_point now = Clock::now();
        for (Slot &slot : m_slots) {
            if (slot.planIndex < 0)
                continue;
            if (slot.done) {
                lock.unlock();
                slot.thread.join();
                lock.lock();
                RunOutcome &outcome = m_outcomes[static_cast<size_t>(slot.planIndex)];
                if (slot.hung) {
                    outcome.ended = false;
                    outcome.problems.push_back(
                        "did not end within its allowance (" +
                        std::to_string(static_cast<long>(m_plans[static_cast<size_t>(slot.planIndex)].allowanceSeconds)) +
                        " s unscaled); cancelled");
                }
                slot.planIndex = -1;
                continue;
            }
            if (!slot.hung && now >= slot.deadline) {
                slot.hung = true;
                std::fprintf(stderr, "run %ld passed its allowance: every update is told to stop\n", slot.planIndex);
                flsh_SetCancel();
                m_cancelled = true;
                slot.deadline = now + std::chrono::seconds(kCancelGraceSeconds);
            } else if (slot.hung && now >= slot.deadline) {
                std::fprintf(stderr, "run %ld ignores its cancel: giving up\n", slot.planIndex);
                std::fflush(stderr);
                _exit(3);
            }
        }
    }

    const Options &m_options;
    const Workspace &m_workspace;
    const std::vector<RunPlan> &m_plans;
    std::vector<RunOutcome> &m_outcomes;
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_cancelled = false;
};

} // namespace

std::vector<RunOutcome> runCampaign(const Options &options, const std::vector<RunPlan> &plans)
{
    std::vector<RunOutcome> outcomes(plans.size());
    os_SetTimeScaleForTesting(options.scale);
    setenv("SUITE_TIME_SCALE", std::to_string(options.scale).c_str(), 1);
    Workspace workspace;
    Scheduler scheduler(options, workspace, plans, outcomes);
    scheduler.run();
    return outcomes;
}

} // namespace campaign
