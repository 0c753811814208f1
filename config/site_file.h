// A whole site as a file: the buses of a building, each with its port and the panel files of
// the modules on it. JSON, UTF-8, next to the panel files it names:
//
//   {"format": "lorvane-site/1", "name": "Riverside Tower",
//    "buses": [{"name": "east riser", "port": "tcp://10.0.3.20:4001",
//               "panels": ["east/lobby-7.json", "east/lobby-8.json"]}, ...]}
//
// Everything here is values: the parse, the checks and the text of a site file. Reading the
// files from disk is site_loader's; the words for each problem are the front ends'.
#pragma once

#include "file_access.h"
#include "panel_config.h"
#include "panel_file.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <variant>
#include <vector>

namespace lorvane {

inline const QString SITE_FILE_FORMAT = QStringLiteral("lorvane-site/1");

// The largest site file read: 64 buses of 256 panel paths fit with room to spare.
inline constexpr qsizetype SITE_FILE_MAX_SIZE = 1024 * 1024;
inline constexpr int SITE_MAX_BUSES = 64;
// "usb:SERIAL": the USB serial adapter with that serial number, whatever its name here.
inline const QString USB_PORT_PREFIX = QStringLiteral("usb:");
inline constexpr qsizetype USB_SERIAL_MAX_LENGTH = 64;

struct site_bus
{
    QString name;
    QString port;                      // as the site file (or the command line) gives it
    bool port_overridden = false;      // the port came from the command line, not the file
    QStringList panel_paths;           // relative to the site file's folder, as the file gives them
    std::vector<panel_config> panels;  // filled by the loader, in panel_paths' order
};

struct site_plan
{
    QString name;
    std::vector<site_bus> buses;
};

// What kind of thing is wrong with a site, for the front ends to word.
enum class site_problem {
    too_large,         // the site file is over SITE_FILE_MAX_SIZE
    unreadable,        // the site file cannot be read: `reason`
    not_a_file,        // the site file is a folder, a device or a FIFO
    not_json,          // `value`: the JSON parser's words and where
    not_an_object,     // the file, or a bus entry (`member`)
    unknown_member,    // `member`
    given_twice,       // `member`
    wrong_format,      // `value`: what format says
    missing,           // `member` is missing
    not_a_text,        // `member` must be a string; `value` is what it is
    not_a_list,        // `member` must be an array
    no_buses,          // buses is empty
    too_many_buses,    // `number` buses
    empty_name,        // `member`: the site's or a bus's name is empty
    name_twice,        // `member`'s bus name was given before at `other_member`
    bad_panel_path,    // `member`: empty, or not relative to the site file's folder
    panel_twice,       // `member` names the panel file `other_member` named on this bus
    panel_two_buses,   // `member` names the panel file (`value`) that `other_member` names,
                       // on bus `bus_name` and bus `other_bus_name`
    bad_port,          // `member` (or the override of bus `bus`) names no port: `value`
    port_twice,        // `member`'s port (`value`, of bus `bus_name`) names the device that
                       // `other_member` (`other_value`, of bus `other_bus_name`) names
    unknown_bus,       // an override names bus `value`, which the site does not have
    panel_unreadable,  // `file` cannot be read: `reason`
    panel_too_large,   // `file` is over PANEL_FILE_MAX_SIZE
    panel_not_a_file,  // `file` is a folder, a device or a FIFO
    panel_invalid,     // `file` is refused by the panel file's own checks: `panel`
    address_twice,     // `file` and `other_file` both have module address `number` on bus
                       // `bus` (named `value`)
};

// Why a site was refused. `member` is a path in the site file ("buses[1].port"), empty for
// the file as a whole; `bus` is the index of the bus concerned (-1: none). Text from the file
// is cut as panel file messages cut it.
struct site_file_error
{
    site_problem kind = site_problem::not_json;
    QString member;
    QString value;
    QString other_member;
    QString file;
    QString other_file;
    int bus = -1;
    int number = -1;
    QString reason;
    // unreadable, not_a_file, panel_unreadable, panel_not_a_file: why, as the opener said.
    std::optional<file_failure> failure;
    QString bus_name;                // port_twice, panel_two_buses: the buses concerned, as shown
    QString other_bus_name;          //
    QString other_value;             // port_twice: the other bus's port, as shown
    bool from_command_line = false;  // the culprit is an override, not the file
    std::optional<panel_file_error> panel;
};

// Whether `json` is an object whose format member is SITE_FILE_FORMAT: a site file, valid or
// not, rather than a panel file. Nothing else is checked.
bool names_site_format(const QByteArray& json);

// The site a file describes (panels not yet loaded), or the first thing wrong with its
// structure: members, format, names, panel paths (none named twice, on one bus or on two),
// the number of buses. The ports stay text here: what device each names is the engine's
// check (site_ports), after the command line may have replaced some.
std::variant<site_plan, site_file_error> parse_site_file(const QByteArray& json);

// Replaces the port of the bus named `bus` (exact name) for one run.
std::optional<site_file_error> override_port(site_plan& plan, const QString& bus,
                                             const QString& port);

// Within each bus, no two panels have one module address (panels loaded).
std::optional<site_file_error> check_site_panels(const site_plan& plan);

// The serial number of a "usb:SERIAL" port text; nothing for any other text.
std::optional<QString> usb_serial_of(const QString& port);

// The site file for `plan` (its names, ports and panel paths; members in the order above),
// indented, ending in a newline. Reading it back gives the same plan.
QByteArray site_file_text(const site_plan& plan);

}  // namespace lorvane
