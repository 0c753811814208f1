// The serial ports the system lists, for offering them to the user by name, and for finding a
// USB adapter by its serial number whatever name it has on this computer.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <utility>
#include <vector>

namespace lorvane {

struct port_entry
{
    port_entry() = default;
    port_entry(QString name_, QString description_, QString manufacturer_ = {},
               QString serial_number_ = {})
        : name(std::move(name_)), description(std::move(description_)),
          manufacturer(std::move(manufacturer_)), serial_number(std::move(serial_number_))
    {
    }

    QString name;           // what to type into the port box: "ttyUSB0", "COM3"
    QString description;    // the driver's description, may be empty
    QString manufacturer;   // the adapter's maker, may be empty
    QString serial_number;  // a USB adapter's serial number, empty when it has none
};

// The system's serial ports, sorted by name. Pseudo-terminals are never listed.
std::vector<port_entry> available_ports();

// The ports as the system lists them, unsorted (from the serial device's own library).
std::vector<port_entry> system_ports();

// Replaces the system as the source of available_ports(), for tests that need a listed
// port they can open (a pseudo-terminal); an empty function restores the system's list.
void set_port_source(std::function<std::vector<port_entry>()> source);

// The names of the listed ports whose adapter has serial number `serial` (compared without
// regard to case, as drivers differ in how they report it): one when that adapter is plugged
// in, none when it is not, several when adapters share a serial number.
QStringList ports_with_serial(const QString& serial);

}  // namespace lorvane
