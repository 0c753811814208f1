// The serial ports the system lists, for offering them to the user by name.
#pragma once

#include <QString>

#include <functional>
#include <vector>

namespace lorvane {

struct port_entry
{
    QString name;          // what to type into the port box: "ttyUSB0", "COM3"
    QString description;   // the driver's description, may be empty
    QString manufacturer;  // the adapter's maker, may be empty
};

// The system's serial ports, sorted by name. Pseudo-terminals are never listed.
std::vector<port_entry> available_ports();

// The ports as the system lists them, unsorted (from the serial device's own library).
std::vector<port_entry> system_ports();

// Replaces the system as the source of available_ports(), for tests that need a listed
// port they can open (a pseudo-terminal); an empty function restores the system's list.
void set_port_source(std::function<std::vector<port_entry>()> source);

}  // namespace lorvane
