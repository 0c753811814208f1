// Which serial device the text of the port-number box names.
#pragma once

#include <QString>

#include <variant>

namespace lorvane {

enum class port_platform { linux_like, windows };

#ifdef Q_OS_WIN
inline constexpr port_platform HOST_PLATFORM = port_platform::windows;
#else
inline constexpr port_platform HOST_PLATFORM = port_platform::linux_like;
#endif

inline constexpr int MAX_PORT_NUMBER = 256;

// The device to open for `text`, or nothing when the text names none.
// A whole number n = 1..256 is the system's n-th serial port (COMn; /dev/ttyS<n-1>);
// a device name ("COM12", "ttyUSB0") or a path ("/dev/ttyUSB0", "/dev/pts/7") is taken
// as it is. Surrounding spaces are ignored.
struct port_name_result
{
    QString device;  // set on success, empty on refusal
    bool ok() const { return !device.isEmpty(); }
};
port_name_result system_port_name(const QString& text, port_platform platform = HOST_PLATFORM);

}  // namespace lorvane
