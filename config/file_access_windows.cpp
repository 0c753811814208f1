// The Win32 half of the file access: handles, attributes and MoveFileEx.
#include "file_access.h"
#include "file_access_parts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string>

#include <windows.h>

namespace lorvane {

using namespace file_parts;

namespace {

QString system_text(DWORD error)
{
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    const QString result = length > 0 ? QString::fromWCharArray(text, qsizetype(length)).trimmed()
                                      : QStringLiteral("system error %1").arg(error);
    LocalFree(text);
    return result;
}

file_failure failure_of(DWORD error, bool partial = false)
{
    file_problem kind = file_problem::other;
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        kind = file_problem::not_found;
        break;
    case ERROR_ACCESS_DENIED:
        kind = file_problem::permission_denied;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
#ifdef ERROR_DISK_QUOTA_EXCEEDED
    case ERROR_DISK_QUOTA_EXCEEDED:
#endif
        kind = file_problem::disk_full;
        break;
    case ERROR_FILENAME_EXCED_RANGE:
        kind = file_problem::name_too_long;
        break;
    case ERROR_WRITE_PROTECT:
        kind = file_problem::read_only_file_system;
        break;
    default:
        break;
    }
    return {kind, system_text(error), partial};
}

// `name` as the wide Win32 calls take it. One that, with a temporary's name beside it, would
// reach MAX_PATH becomes an absolute "\\?\" path, which they take up to 32767 characters
// long (as QFile does); shorter ones stay as they are, so that device names (NUL, CON) keep
// their meaning.
QString native_path(const QString& name)
{
    const QString path = QDir::toNativeSeparators(name);
    if (path.size() + TEMPORARY_NAME_LENGTH < MAX_PATH)
        return path;
    const QString absolute = QDir::toNativeSeparators(QFileInfo(name).absoluteFilePath());
    return absolute.startsWith(QStringLiteral("\\\\"))
               ? QStringLiteral("\\\\?\\UNC\\") + absolute.mid(2)
               : QStringLiteral("\\\\?\\") + absolute;
}

bool write_all(HANDLE file, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const DWORD chunk = DWORD(left < READ_CHUNK ? left : READ_CHUNK);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr))
            return false;
        data += written;
        left -= qsizetype(written);
    }
    return true;
}

std::optional<file_failure> rewrite_in_place(const std::wstring& path, const QByteArray& bytes)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failure_of(GetLastError());
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return refused(file_problem::not_regular);
    }
    const bool emptied = SetEndOfFile(file) != 0;
    bool written = emptied && write_all(file, bytes) && FlushFileBuffers(file);
    DWORD error = GetLastError();
    if (!CloseHandle(file) && written) {
        written = false;
        error = GetLastError();
    }
    if (written)
        return std::nullopt;
    return failure_of(error, emptied);
}

// Opens the regular file `name` for reading; the handle is the caller's to close. A folder is
// refused from its attributes, a console, pipe or device once opened (its type is known only
// from the handle).
std::variant<HANDLE, file_failure> open_for_reading(const QString& name)
{
    const std::wstring path = native_path(name).toStdWString();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return failure_of(GetLastError());
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return refused(file_problem::is_folder);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failure_of(GetLastError());
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return refused(file_problem::not_regular);
    }
    return file;
}

}  // namespace

file_failure system_failure(int error, bool partial)
{
    return failure_of(DWORD(error), partial);
}

QString name_from_system(const QByteArray& bytes)
{
    return QFile::decodeName(bytes);
}

QByteArray name_for_system(const QString& name)
{
    return QFile::encodeName(name);
}

file_contents read_regular_file(const QString& name, qsizetype max_size)
{
    const auto opened = open_for_reading(name);
    if (const auto* failure = std::get_if<file_failure>(&opened))
        return *failure;
    const HANDLE file = std::get<HANDLE>(opened);
    QByteArray bytes;
    for (;;) {
        const qsizetype had = bytes.size();
        bytes.resize(had + READ_CHUNK);
        DWORD got = 0;
        if (!ReadFile(file, bytes.data() + had, DWORD(READ_CHUNK), &got, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            return failure_of(error);
        }
        bytes.resize(had + qsizetype(got));
        if (got == 0)
            break;
        if (bytes.size() > max_size) {
            CloseHandle(file);
            return refused(file_problem::too_large);
        }
    }
    CloseHandle(file);
    return bytes;
}

file_contents read_file_tail(const QString& name, qsizetype max_size)
{
    const auto opened = open_for_reading(name);
    if (const auto* failure = std::get_if<file_failure>(&opened))
        return *failure;
    const HANDLE file = std::get<HANDLE>(opened);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return refused(file_problem::not_regular);
    }
    const qint64 start = size.QuadPart > max_size ? size.QuadPart - max_size : 0;
    LARGE_INTEGER offset{};
    offset.QuadPart = start;
    if (!SetFilePointerEx(file, offset, nullptr, FILE_BEGIN)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return failure_of(error);
    }
    QByteArray bytes(qsizetype(size.QuadPart - start), '\0');
    qsizetype had = 0;
    while (had < bytes.size()) {
        DWORD got = 0;
        const qsizetype chunk = std::min(bytes.size() - had, READ_CHUNK);
        if (!ReadFile(file, bytes.data() + had, DWORD(chunk), &got, nullptr)) {
            const DWORD error = GetLastError();
            CloseHandle(file);
            return failure_of(error);
        }
        if (got == 0)  // cut short meanwhile
            break;
        had += qsizetype(got);
    }
    CloseHandle(file);
    bytes.truncate(had);
    return bytes;
}

std::optional<file_failure> write_regular_file(const QString& name, const QByteArray& bytes)
{
    const QString target = native_path(name);
    const std::wstring path = target.toStdWString();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return failure_of(GetLastError());
    if (exists) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            return refused(file_problem::is_folder);
        if (attributes & FILE_ATTRIBUTE_READONLY)
            return refused(file_problem::not_writable);
        const HANDLE probe =
            CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (probe != INVALID_HANDLE_VALUE) {
            const DWORD type = GetFileType(probe);
            CloseHandle(probe);
            if (type != FILE_TYPE_DISK)
                return refused(file_problem::not_regular);
        }
    }
    const qsizetype backslash = target.lastIndexOf(u'\\');
    const qsizetype slash = backslash >= 0 ? backslash : target.lastIndexOf(u':');  // "C:name"
    const QString folder = target.left(slash + 1);  // empty: the current folder
    std::wstring temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD error = ERROR_FILE_EXISTS;
    for (int tries = 0; file == INVALID_HANDLE_VALUE && tries < TEMPORARY_TRIES; ++tries) {
        temporary = (folder + QString::fromLatin1(temporary_name())).toStdWString();
        file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        error = GetLastError();
        if (file == INVALID_HANDLE_VALUE && error != ERROR_FILE_EXISTS &&
            error != ERROR_ALREADY_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE) {
        // No new file can be made in the folder: an existing file is rewritten where it is.
        if (exists && error == ERROR_ACCESS_DENIED)
            return rewrite_in_place(path, bytes);
        return failure_of(error);
    }
    bool written = write_all(file, bytes) && FlushFileBuffers(file);
    error = GetLastError();
    if (!CloseHandle(file) && written) {
        written = false;
        error = GetLastError();
    }
    if (written && MoveFileExW(temporary.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return std::nullopt;
    if (written)
        error = GetLastError();
    DeleteFileW(temporary.c_str());
    return failure_of(error);
}

void append_file::close()
{
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

std::optional<file_failure> append_file::append(const QByteArray& bytes)
{
    if (!is_open())
        return failure_of(ERROR_INVALID_HANDLE);
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    if (!write_all(file, bytes) || !FlushFileBuffers(file))
        return failure_of(GetLastError());
    return std::nullopt;
}

std::optional<file_failure> append_file::append_unflushed(const QByteArray& bytes)
{
    if (!is_open())
        return failure_of(ERROR_INVALID_HANDLE);
    if (!write_all(reinterpret_cast<HANDLE>(handle_), bytes))
        return failure_of(GetLastError());
    return std::nullopt;
}

std::variant<append_file, file_failure> open_append_file(const QString& name)
{
    const std::wstring path = native_path(name).toStdWString();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return refused(file_problem::is_folder);
    // Append rights only: the system puts every write at the end.
    const HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failure_of(GetLastError());
    if (GetFileType(file) != FILE_TYPE_DISK) {  // a console, a pipe, a device (NUL, COM1)
        CloseHandle(file);
        return refused(file_problem::not_regular);
    }
    return append_file(reinterpret_cast<qintptr>(file));
}

}  // namespace lorvane
