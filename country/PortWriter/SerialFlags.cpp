#include "country/PortWriter/SerialFlags.h"

#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <sys/ioctl.h>

int CSerialFlags::Get(int handle, int& flags) {
    serial_struct serial{};
    if (::ioctl(handle, TIOCGSERIAL, &serial) != 0)
        return errno;
    flags = serial.flags;
    return 0;
}

int CSerialFlags::Set(int handle, int flags) {
    // The driver takes the whole record back: everything but the flags stays as it reads it now.
    serial_struct serial{};
    if (::ioctl(handle, TIOCGSERIAL, &serial) != 0)
        return errno;
    serial.flags = flags;
    return ::ioctl(handle, TIOCSSERIAL, &serial) == 0 ? 0 : errno;
}

CSerialFlags& CSerialFlags::System() {
    static CSerialFlags system;
    return system;
}

std::string CLowLatency::Request(CSerialFlags& driver, int handle) {
    m_set = false;
    int flags = 0;
    int error = driver.Get(handle, flags);
    if (error == ENOTTY)
        return "no low latency setting on this driver";
    if (error == 0 && (flags & ASYNC_LOW_LATENCY))
        return "low latency already on";
    if (error == 0)
        error = driver.Set(handle, flags | ASYNC_LOW_LATENCY);
    if (error != 0)
        return std::string("cannot set low latency: ") + std::strerror(error);
    m_set = true;
    m_savedFlags = flags;
    return "low latency set";
}

void CLowLatency::Restore(CSerialFlags& driver, int handle) {
    if (!m_set)
        return;
    m_set = false;
    driver.Set(handle, m_savedFlags);
}
