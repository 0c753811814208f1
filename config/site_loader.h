// Reads a site from disk: the site file, then each panel file it names, relative to the site
// file's folder, each bounded in size. The checks themselves are site_file's.
#pragma once

#include "site_file.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <variant>
#include <vector>

namespace lorvane {

// A bus's port replaced for one run (the command line's --port-of BUS=PORT).
struct port_override
{
    QString bus;
    QString port;
};

// What load_site read, to tell a later reading that found other contents: the SHA-256 of the
// site file's bytes, and of each panel file's by its path as the site file gives it.
struct site_digests
{
    QByteArray site;
    std::map<QString, QByteArray> panels;
};

// The site in file `path` with its panels loaded, or the first thing wrong with it: the site
// file itself (over SITE_FILE_MAX_SIZE, unreadable, refused by parse_site_file), an override
// of a bus it does not have, a panel file (missing, not a regular
// file, over PANEL_FILE_MAX_SIZE, refused by parse_panel_file), or two panels with one
// address on a bus (check_site_panels). Nothing is written. With `digests`, the digests of
// the files read go there (those read before a refusal too).
std::variant<site_plan, site_file_error> load_site(const QString& path,
                                                   const std::vector<port_override>& overrides = {},
                                                   site_digests* digests = nullptr);

// Where the panel file `panel_path` of a site whose file is `site_path` lies: relative to the
// site file's folder, '\' taken as '/' as on Windows.
QString panel_file_path(const QString& site_path, const QString& panel_path);

}  // namespace lorvane
