#include "country/PortWriter/PortWriterError.h"

CPortWriterError::CPortWriterError(CPortWriter* writer, int code, std::string text)
    : m_writer(writer), m_code(code), m_text(std::move(text)) {
    m_what = "port writer error " + std::to_string(code);
    if (!m_text.empty())
        m_what += ": " + m_text;
}
