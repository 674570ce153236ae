#include "country/config/ModemJobList.h"

CModemJobList::~CModemJobList()
{
    DeleteAll();
}

void CModemJobList::StartScan(bool logging)
{
    for (int port = kFirstPort; port <= kLastPort; ++port)
        StartJob(port, logging);
}

bool CModemJobList::Launch(Entry& entry, int portNumber, bool logging)
{
    entry.stopEvent = std::make_unique<CEvent>();
    entry.job = std::make_unique<CModemJob>(portNumber, entry.stopEvent.get(), logging);
    return entry.job->Start();
}

CModemJob* CModemJobList::StartJob(int portNumber, bool logging)
{
    Entry entry;
    if (!Launch(entry, portNumber, logging))
        return nullptr;
    m_entries.push_back(std::move(entry));
    return m_entries.back().job.get();
}

CModemJob* CModemJobList::RestartJob(CModemJob* job, bool logging)
{
    for (auto entry = m_entries.begin(); entry != m_entries.end(); ++entry) {
        if (entry->job.get() != job)
            continue;
        const int portNumber = job->PortNumber();
        // The old worker holds the port open: it must be gone before the new one opens it.
        Finish(*entry);
        if (!Launch(*entry, portNumber, logging)) {
            m_entries.erase(entry);
            return nullptr;
        }
        return entry->job.get();
    }
    return nullptr;
}

bool CModemJobList::AllDone()
{
    for (const Entry& entry : m_entries)
        if (!entry.job->Done())
            return false;
    Prune();
    return true;
}

void CModemJobList::Finish(Entry& entry)
{
    entry.stopEvent->Set();
    entry.job->Wait(-1);
    entry.job.reset();
    entry.stopEvent.reset();
}

void CModemJobList::Prune()
{
    std::vector<Entry> kept;
    for (Entry& entry : m_entries) {
        if (entry.job->Identified() == 1)
            kept.push_back(std::move(entry));
        else
            Finish(entry);
    }
    m_entries = std::move(kept);
}

void CModemJobList::StopAll()
{
    for (Entry& entry : m_entries)
        entry.stopEvent->Set();
}

void CModemJobList::DeleteAll()
{
    for (Entry& entry : m_entries)
        Finish(entry);
    m_entries.clear();
}
