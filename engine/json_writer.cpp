#include "json_writer.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace lorvane {

QByteArray json_number(double value, int decimals)
{
    return QByteArray::number(value, 'f', decimals);
}

QByteArray json_array(const std::vector<QByteArray>& items)
{
    QByteArray text = "[";
    for (std::size_t i = 0; i < items.size(); ++i)
        text += (i == 0 ? "" : ",") + items[i];
    return text + ']';
}

json_object& json_object::add(const char* name, const QString& text)
{
    return add_json(name, json_quoted(text));
}

json_object& json_object::add(const char* name, int number)
{
    return add_json(name, QByteArray::number(number));
}

json_object& json_object::add(const char* name, bool flag)
{
    return add_json(name, flag ? "true" : "false");
}

json_object& json_object::add_json(const char* name, const QByteArray& json)
{
    if (!members_.isEmpty())
        members_ += ',';
    members_ += json_quoted(QString::fromUtf8(name)) + ':' + json;
    return *this;
}

QByteArray json_object::text() const
{
    return '{' + members_ + '}';
}

}  // namespace lorvane
