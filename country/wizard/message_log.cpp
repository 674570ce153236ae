#include "country/wizard/message_log.h"

const char* const kMessageLogName = "Meridia.txt";

CMessageLog::~CMessageLog()
{
    Close();
}

bool CMessageLog::Open(const std::string& path)
{
    Close();
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

void CMessageLog::Write(const std::string& text)
{
    if (file_ == nullptr)
        return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

void CMessageLog::Close()
{
    if (file_ != nullptr) {
        std::fclose(file_);
        file_ = nullptr;
    }
}
