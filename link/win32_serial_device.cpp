#include "win32_serial_device.h"

#include "port_listing.h"

#include <QWinEventNotifier>

#include <timeapi.h>

#include <algorithm>
#include <cstring>

// clang-format off: initguid.h must come before devguid.h to define the class GUIDs.
#include <cfgmgr32.h>
#include <devguid.h>
#include <initguid.h>
#include <setupapi.h>
// clang-format on

namespace lorvane {

namespace {

// The driver's queues, as the original line settings had them.
constexpr DWORD RECEIVE_QUEUE = 1024;  // bytes
constexpr DWORD TRANSMIT_QUEUE = 512;  // bytes
// A read waits for its first byte as long as it takes, then completes once the line has
// been quiet for this long (or its buffer is full). 1 ms is under one byte time at 9600
// baud (1.04 ms), so a read hands over what has arrived almost at once; a reply that comes
// in several reads is put together by the frame cutter. (The other common setting,
// interval and multiplier at MAXDWORD, is not honoured by Wine's serial driver: its reads
// never complete there.)
constexpr DWORD READ_INTERVAL_MS = 1;
// 8 bytes at 9600 baud take 8.3 ms; a write that takes this long has met a dead device.
constexpr DWORD WRITE_TIMEOUT_MS = 2000;

QString system_message(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString message = length > 0 ? QString::fromWCharArray(text, int(length)).trimmed()
                                 : QStringLiteral("error %1").arg(error);
    LocalFree(text);
    return message;
}

port_failure_kind failure_kind(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
        return port_failure_kind::not_found;
    case ERROR_ACCESS_DENIED:  // COM ports are exclusive: someone else holds it
    case ERROR_SHARING_VIOLATION:
        return port_failure_kind::in_use;
    default:
        return port_failure_kind::other;
    }
}

HANDLE new_event()
{
    return CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// A string value of an open registry key, empty when absent.
QString registry_string(HKEY key, const wchar_t* name)
{
    wchar_t value[256] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return QString::fromWCharArray(value);
}

// The serial number in a device instance ID, as Windows builds them for USB serial adapters:
// "USB\VID_0403&PID_6001\FT4XK21B" (the adapter itself) or
// "FTDIBUS\VID_0403+PID_6001+FT4XK21BA\0000" (FTDI's own bus driver, which appends the
// port's letter, A for the first). A last part with '&' in it was made up by Windows for an
// adapter without a serial number; empty then, and for any other ID.
QString serial_of_instance_id(const QString& id)
{
    const QStringList parts = id.split(u'\\');
    if (parts.size() < 3)
        return {};
    if (parts[0].compare(QStringLiteral("USB"), Qt::CaseInsensitive) == 0)
        return parts[2].contains(u'&') ? QString() : parts[2];
    if (parts[0].compare(QStringLiteral("FTDIBUS"), Qt::CaseInsensitive) == 0) {
        QString serial = parts[1].section(u'+', 2);
        if (serial.size() > 1 && serial.endsWith(u'A'))
            serial.chop(1);
        return serial;
    }
    return {};
}

QString instance_id(DEVINST device)
{
    wchar_t id[MAX_DEVICE_ID_LEN + 1] = {};
    if (CM_Get_Device_IDW(device, id, MAX_DEVICE_ID_LEN, 0) != CR_SUCCESS)
        return {};
    return QString::fromWCharArray(id);
}

// The serial number of the USB adapter behind a port: from the port's own ID, or from its
// parent's (a composite device's interface has an ID of its own without it).
QString adapter_serial(DEVINST device)
{
    if (const QString serial = serial_of_instance_id(instance_id(device)); !serial.isEmpty())
        return serial;
    DEVINST parent = 0;
    if (CM_Get_Parent(&parent, device, 0) != CR_SUCCESS)
        return {};
    return serial_of_instance_id(instance_id(parent));
}

}  // namespace

qint64 byte_queue::readData(char* data, qint64 max_size)
{
    const qint64 n = std::min<qint64>(max_size, bytes_.size());
    std::memcpy(data, bytes_.constData(), std::size_t(n));
    bytes_.remove(0, n);
    return n;
}

win32_serial_device::win32_serial_device() : read_event_(new_event()), write_event_(new_event())
{
    read_notifier_ = new QWinEventNotifier(read_event_, this);
    read_notifier_->setEnabled(false);
    connect(read_notifier_, &QWinEventNotifier::activated, this,
            &win32_serial_device::on_read_done);
}

win32_serial_device::~win32_serial_device()
{
    close();
    CloseHandle(read_event_);
    CloseHandle(write_event_);
}

std::optional<port_failure> win32_serial_device::open(const QString& device)
{
    const QString path =
        device.startsWith(QStringLiteral("\\\\.\\")) ? device : QStringLiteral("\\\\.\\") + device;
    const HANDLE handle =
        CreateFileW(reinterpret_cast<const wchar_t*>(path.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return port_failure{failure_kind(error), device, system_message(error)};
    }

    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    bool configured = GetCommState(handle, &dcb);
    if (configured) {
        dcb.BaudRate = CBR_9600;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        configured = SetCommState(handle, &dcb);
    }
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = READ_INTERVAL_MS;
    timeouts.WriteTotalTimeoutConstant = WRITE_TIMEOUT_MS;
    configured = configured && SetCommTimeouts(handle, &timeouts);
    if (!configured) {
        const DWORD error = GetLastError();
        CloseHandle(handle);
        return port_failure{port_failure_kind::unsupported_settings, device, system_message(error)};
    }
    (void)SetupComm(handle, RECEIVE_QUEUE, TRANSMIT_QUEUE);  // a hint drivers may ignore
    // Whatever the line delivered before this open belongs to nobody.
    PurgeComm(handle, PURGE_RXCLEAR | PURGE_TXCLEAR);

    // The driver measures the read interval with the system timer, 15.6 ms a tick unless
    // asked for 1 ms while the port is open.
    timeBeginPeriod(1);
    handle_ = handle;
    received_.clear();
    errors_ = {};
    count_errors();  // flags left from before the open are not this line's
    errors_ = {};
    if (!start_read()) {
        const DWORD error = GetLastError();
        close();
        return port_failure{port_failure_kind::other, device, system_message(error)};
    }
    return std::nullopt;
}

void win32_serial_device::close()
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    abort_read();
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
    timeEndPeriod(1);
    received_.clear();
}

bool win32_serial_device::start_read()
{
    read_overlapped_ = {};
    read_overlapped_.hEvent = read_event_;
    // The event is set when the read completes, at once or later; on_read_done takes it.
    if (!ReadFile(handle_, read_buffer_.data(), DWORD(read_buffer_.size()), nullptr,
                  &read_overlapped_) &&
        GetLastError() != ERROR_IO_PENDING)
        return false;
    read_pending_ = true;
    read_notifier_->setEnabled(true);
    return true;
}

void win32_serial_device::on_read_done()
{
    if (!read_pending_)
        return;
    DWORD got = 0;
    if (!GetOverlappedResult(handle_, &read_overlapped_, &got, FALSE)) {
        if (GetLastError() == ERROR_IO_INCOMPLETE)
            return;  // not done after all
        read_pending_ = false;
        read_notifier_->setEnabled(false);
        Q_EMIT failed();  // the device went away under the read
        return;
    }
    read_pending_ = false;
    count_errors();
    if (got > 0)
        received_.append(read_buffer_.data(), qint64(got));
    if (!start_read()) {
        read_notifier_->setEnabled(false);
        Q_EMIT failed();
        return;
    }
    if (got > 0)
        Q_EMIT bytes_received();
}

void win32_serial_device::abort_read()
{
    read_notifier_->setEnabled(false);
    if (!read_pending_)
        return;
    // Bytes a read took before the abort are received bytes like the driver's: dropped.
    CancelIo(handle_);
    DWORD got = 0;
    (void)GetOverlappedResult(handle_, &read_overlapped_, &got, TRUE);
    read_pending_ = false;
    ResetEvent(read_event_);
}

void win32_serial_device::discard_input()
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    // The pending read may hold bytes the driver has handed over already: cancel it, purge
    // the driver's queue, forget our own, and start reading afresh.
    abort_read();
    PurgeComm(handle_, PURGE_RXCLEAR);
    received_.clear();
    if (!start_read())
        Q_EMIT failed();
}

void win32_serial_device::send(const frame& bytes)
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return;
    OVERLAPPED overlapped{};
    overlapped.hEvent = write_event_;
    DWORD written = 0;
    bool ok = WriteFile(handle_, bytes.data(), DWORD(bytes.size()), nullptr, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING)
        ok = true;
    // Out now, as the caller expects: wait for the 8 bytes to reach the driver.
    ok = ok && GetOverlappedResult(handle_, &overlapped, &written, TRUE);
    if (!ok || written != bytes.size())
        Q_EMIT failed();
}

void win32_serial_device::count_errors() const
{
    DWORD flags = 0;
    COMSTAT status{};
    if (handle_ == INVALID_HANDLE_VALUE || !ClearCommError(handle_, &flags, &status))
        return;
    errors_.framing += (flags & CE_FRAME) ? 1 : 0;
    errors_.parity += (flags & CE_RXPARITY) ? 1 : 0;
    errors_.overrun += (flags & (CE_OVERRUN | CE_RXOVER)) ? 1 : 0;
    errors_.breaks += (flags & CE_BREAK) ? 1 : 0;
}

std::optional<os_line_errors> win32_serial_device::os_errors() const
{
    if (handle_ == INVALID_HANDLE_VALUE)
        return std::nullopt;
    count_errors();
    return errors_;
}

std::unique_ptr<serial_device> make_serial_device()
{
    return std::make_unique<win32_serial_device>();
}

std::vector<port_entry> system_ports()
{
    std::vector<port_entry> ports;
    // The names: every serial port the system has mapped to a COM name.
    HKEY map = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &map) ==
        ERROR_SUCCESS) {
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD name_size = 256;
            wchar_t value[256] = {};
            DWORD value_size = sizeof(value) - sizeof(wchar_t);
            DWORD type = 0;
            if (RegEnumValueW(map, i, name, &name_size, nullptr, &type,
                              reinterpret_cast<BYTE*>(value), &value_size) != ERROR_SUCCESS)
                break;
            if (type == REG_SZ)
                ports.push_back({QString::fromWCharArray(value), {}, {}});
        }
        RegCloseKey(map);
    }
    // The descriptions: the friendly names of the devices in the Ports class.
    const HDEVINFO set =
        SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (set != INVALID_HANDLE_VALUE) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof(info);
        for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &info); ++i) {
            const HKEY key =
                SetupDiOpenDevRegKey(set, &info, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
            if (key == INVALID_HANDLE_VALUE)
                continue;
            const QString name = registry_string(key, L"PortName");
            RegCloseKey(key);
            wchar_t friendly[256] = {};
            if (name.isEmpty() ||
                !SetupDiGetDeviceRegistryPropertyW(set, &info, SPDRP_FRIENDLYNAME, nullptr,
                                                   reinterpret_cast<BYTE*>(friendly),
                                                   sizeof(friendly) - sizeof(wchar_t), nullptr))
                continue;
            const auto known = std::find_if(ports.begin(), ports.end(),
                                            [&](const port_entry& p) { return p.name == name; });
            const QString serial = adapter_serial(info.DevInst);
            if (known != ports.end()) {
                known->description = QString::fromWCharArray(friendly);
                known->serial_number = serial;
            } else if (name.startsWith(QStringLiteral("COM"))) {
                ports.push_back({name, QString::fromWCharArray(friendly), {}, serial});
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    return ports;
}

}  // namespace lorvane
