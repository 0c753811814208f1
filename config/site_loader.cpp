#include "site_loader.h"

#include "file_access.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>

namespace lorvane {

namespace {

struct bounded_read
{
    QByteArray bytes;
    std::optional<site_problem> problem;  // unreadable or too_large, or not a regular file
    file_failure failure;                 // with a problem: why
};

// At most `limit` bytes of the regular file `path`, read as every file this program keeps
// is read: anything else (a folder, a device, a FIFO) is refused before it could keep the
// reader waiting.
bounded_read read_bounded(const QString& path, qsizetype limit, site_problem unreadable,
                          site_problem too_large, site_problem not_a_file)
{
    bounded_read result;
    const file_contents contents = read_regular_file(path, limit);
    if (const auto* bytes = std::get_if<QByteArray>(&contents)) {
        result.bytes = *bytes;
        return result;
    }
    const file_failure& failure = std::get<file_failure>(contents);
    result.failure = failure;
    switch (failure.kind) {
    case file_problem::too_large:
        result.problem = too_large;
        break;
    case file_problem::is_folder:
    case file_problem::not_regular:
        result.problem = not_a_file;
        break;
    default:
        result.problem = unreadable;
        break;
    }
    return result;
}

}  // namespace

QString panel_file_path(const QString& site_path, const QString& panel_path)
{
    QString relative = panel_path;
    relative.replace(u'\\', u'/');
    return QDir::cleanPath(QFileInfo(site_path).absoluteDir().filePath(relative));
}

std::variant<site_plan, site_file_error>
load_site(const QString& path, const std::vector<port_override>& overrides, site_digests* digests)
{
    const bounded_read site = read_bounded(path, SITE_FILE_MAX_SIZE, site_problem::unreadable,
                                           site_problem::too_large, site_problem::not_a_file);
    if (site.problem) {
        site_file_error error;
        error.kind = *site.problem;
        error.reason = site.failure.reason;
        error.failure = site.failure;
        return error;
    }
    if (digests)
        digests->site = QCryptographicHash::hash(site.bytes, QCryptographicHash::Sha256);
    auto parsed = parse_site_file(site.bytes);
    if (const auto* error = std::get_if<site_file_error>(&parsed))
        return *error;
    site_plan plan = std::get<site_plan>(std::move(parsed));
    for (const port_override& o : overrides) {
        if (auto error = override_port(plan, o.bus, o.port))
            return *error;
    }
    for (int b = 0; b < int(plan.buses.size()); ++b) {
        site_bus& bus = plan.buses[std::size_t(b)];
        for (qsizetype p = 0; p < bus.panel_paths.size(); ++p) {
            site_file_error error;
            error.bus = b;
            error.member = QStringLiteral("buses[%1].panels[%2]").arg(b).arg(p);
            error.file = bus.panel_paths[p];
            const bounded_read panel =
                read_bounded(panel_file_path(path, bus.panel_paths[p]), PANEL_FILE_MAX_SIZE,
                             site_problem::panel_unreadable, site_problem::panel_too_large,
                             site_problem::panel_not_a_file);
            if (panel.problem) {
                error.kind = *panel.problem;
                error.reason = panel.failure.reason;
                error.failure = panel.failure;
                return error;
            }
            if (digests)
                digests->panels[bus.panel_paths[p]] =
                    QCryptographicHash::hash(panel.bytes, QCryptographicHash::Sha256);
            auto config = parse_panel_file(panel.bytes);
            if (auto* refused = std::get_if<panel_file_error>(&config)) {
                error.kind = site_problem::panel_invalid;
                error.panel = *refused;
                return error;
            }
            bus.panels.push_back(std::get<panel_config>(config));
        }
    }
    if (auto error = check_site_panels(plan))
        return *error;
    return plan;
}

}  // namespace lorvane
