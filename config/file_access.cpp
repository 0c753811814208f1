#include "file_access.h"
#include "file_access_parts.h"

#include <QRandomGenerator>

namespace lorvane {

namespace file_parts {

QByteArray temporary_name()
{
    static constexpr char letters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name(".lv");
    while (name.size() < TEMPORARY_NAME_LENGTH)
        name += letters[QRandomGenerator::global()->bounded(int(sizeof letters - 1))];
    return name;
}

file_failure refused(file_problem kind, const QString& reason)
{
    return {kind, reason, false};
}

}  // namespace file_parts

append_file::append_file(append_file&& other) noexcept : handle_(other.handle_)
{
    other.handle_ = -1;
}

append_file& append_file::operator=(append_file&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

append_file::~append_file()
{
    close();
}

}  // namespace lorvane
