// JSON text with members in the order they are added, for documents people read as well as
// programs (the audit log's lines, lorvane-cli's --json): QJsonObject sorts its members.
#pragma once

#include "json_text.h"  // json_quoted

#include <QByteArray>
#include <QString>

#include <vector>

namespace lorvane {

// `value` with `decimals` places, as a JSON number ("6.10" for 6.1 with 2).
QByteArray json_number(double value, int decimals);

// "[a,b,c]" from JSON texts.
QByteArray json_array(const std::vector<QByteArray>& items);

class json_object
{
public:
    json_object& add(const char* name, const QString& text);
    json_object& add(const char* name, int number);
    json_object& add(const char* name, bool flag);
    // A value that is JSON text already (a number, an array, an object, null).
    json_object& add_json(const char* name, const QByteArray& json);

    // "{...}", compact.
    QByteArray text() const;

private:
    QByteArray members_;
};

}  // namespace lorvane
