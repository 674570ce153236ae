// Turns the diagnostic log on into a temporary directory for one test and reads its entries back.
#pragma once

#include <ftw.h>
#include <stdlib.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ravelin/support/log.h"
#include "ravelin/support/oswin32.h"

class LogCapture {
public:
    LogCapture()
    {
        char szTemplate[] = "/tmp/urs_log_XXXXXX";
        if (mkdtemp(szTemplate) != nullptr)
            m_dir = szTemplate;
        os_SetExeDirForTesting(m_dir.c_str());
        log_SetEnabled(true);
        m_bOpen = log_Open() != nullptr;
    }
    ~LogCapture()
    {
        log_Close();
        log_SetEnabled(false);
        os_SetExeDirForTesting(nullptr);
        if (!m_dir.empty())
            nftw(m_dir.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return remove(p); },
                 8, FTW_DEPTH | FTW_PHYS);
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    bool Ok() const { return m_bOpen; }

    std::string Text() const
    {
        log_Flush();
        std::ifstream in(m_dir + "/log.txt", std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

    // The messages of the serial layer's entries, in order, without time, module and line, and
    // without the line end the log adds (a message may itself hold line ends).
    std::vector<std::string> Messages() const
    {
        static const std::regex kEntryStart(R"(\[\d\d:\d\d:\d\d\]\[urswin32 \(\d+\)\]: )");
        std::string text = Text();
        std::vector<std::string> messages;
        auto it = std::sregex_iterator(text.begin(), text.end(), kEntryStart);
        for (; it != std::sregex_iterator(); ++it) {
            auto next = std::next(it);
            std::size_t nBegin = static_cast<std::size_t>(it->position() + it->length());
            std::size_t nEnd = next == std::sregex_iterator() ? text.size()
                                                              : static_cast<std::size_t>(next->position());
            std::string message = text.substr(nBegin, nEnd - nBegin);
            if (!message.empty() && message.back() == '\n')
                message.pop_back();
            messages.push_back(message);
        }
        return messages;
    }

    // How many entries hold sub as part of their message.
    int Count(const std::string &sub) const
    {
        int n = 0;
        for (const std::string &m : Messages())
            n += m.find(sub) != std::string::npos ? 1 : 0;
        return n;
    }

private:
    std::string m_dir;
    bool m_bOpen = false;
};
