// The live identification workers of the program, one per probed port, with the scan operations the
// wizard pages and the command-line run drive them by. Used from one thread (the user interface's).
#pragma once

#include "country/config/ModemJob.h"

#include <memory>
#include <vector>

class CModemJobList {
public:
    static const int kFirstPort = 1;
    static const int kLastPort = 36;

    CModemJobList() = default;
    // Stops and waits for every worker still in the list.
    ~CModemJobList();
    CModemJobList(const CModemJobList&) = delete;
    CModemJobList& operator=(const CModemJobList&) = delete;

    // One started worker for each of COM1 to COM36.
    void StartScan(bool logging);
    // A worker for one port, started and appended; nullptr when its thread could not start.
    CModemJob* StartJob(int portNumber, bool logging);
    // Stops, waits for and frees job (so that its port is free again), then starts a fresh worker for the
    // same port in its place; the new worker, or nullptr when job is not in the list or the new thread
    // could not start (then the entry is gone).
    CModemJob* RestartJob(CModemJob* job, bool logging);
    // True when every worker is done; then also Prune().
    bool AllDone();
    // Stops, waits for and frees every worker that did not identify a modem, in list order.
    void Prune();
    // Signals every worker's stop event.
    void StopAll();
    // Stops, waits for and frees every worker, first to last.
    void DeleteAll();

    size_t Count() const { return m_entries.size(); }
    CModemJob* At(size_t index) const { return m_entries[index].job.get(); }

private:
    struct Entry {
        std::unique_ptr<CEvent> stopEvent;
        std::unique_ptr<CModemJob> job;
    };
    static void Finish(Entry& entry);
    // Makes the entry's stop event and worker and starts it; false when the thread did not start.
    static bool Launch(Entry& entry, int portNumber, bool logging);

    std::vector<Entry> m_entries;
};
