#include "site_report.h"

#include "site_report_health.h"
#include "site_report_parts.h"

#include <QStringList>

#include <algorithm>
#include <array>
#include <vector>

namespace lorvane {

namespace {

// The map: 16 x 16 cells of CELL px, GAP apart, behind a margin for the row and column labels.
constexpr int CELL = 20;
constexpr int GAP = 2;
constexpr int LEFT = 30;
constexpr int TOP = 18;
constexpr int MAP_SIZE_X = LEFT + 16 * (CELL + GAP);
constexpr int MAP_SIZE_Y = TOP + 16 * (CELL + GAP);

struct status_look
{
    const char* css;     // class name
    const char* colour;  // fill
    const char* glyph;   // in the map's cell, so that a black-and-white print still tells them
};

status_look look_of(module_status status)
{
    switch (status) {
    case module_status::same:
        return {"same", "#2e7d32", "\u2713"};
    case module_status::unchanged:
        return {"unchanged", "#2e7d32", "\u2713"};
    case module_status::read:
        return {"read", "#2e7d32", "\u2713"};
    case module_status::written:
        return {"written", "#1565c0", "\u270E"};
    case module_status::different:
        return {"different", "#d08a00", "\u2260"};
    case module_status::unexpected:
        return {"unexpected", "#6a3d9a", "?"};
    case module_status::missing:
        return {"missing", "#c62828", "\u2715"};
    case module_status::failed:
        return {"failed", "#8e1b1b", "!"};
    case module_status::interrupted:
        return {"interrupted", "#7b6f62", "\u2016"};
    case module_status::not_reached:
        return {"not-reached", "#9aa3ad", "\u2013"};
    }
    return {"", "#000000", ""};
}

constexpr const char* EMPTY_CELL_COLOUR = "#e8ecf0";      // scanned, no module answered
constexpr const char* UNSCANNED_CELL_COLOUR = "#ffffff";  // no scan went over it
constexpr const char* UNSCANNED_CELL_STROKE = "#b8c0c8";

using report_html::esc;
using report_html::num;

const char* STYLE = R"css(
:root { --ink: #1d2733; --muted: #5b6875; --line: #d9dee4; --band: #12324a; }
* { box-sizing: border-box; }
html { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
body { margin: 0; color: var(--ink); background: #f4f6f8;
  font: 15px/1.45 system-ui, "Segoe UI", "Noto Sans", "Noto Sans CJK SC", "Microsoft YaHei",
    "PingFang SC", Helvetica, Arial, sans-serif; }
.page { max-width: 1200px; margin: 0 auto; background: #fff; min-height: 100vh; }
header.cover { background: var(--band); color: #fff; padding: 36px 48px 28px; }
header.cover .kind { margin: 0; text-transform: uppercase; letter-spacing: .12em; font-size: 12px;
  opacity: .8; }
header.cover h1 { margin: 4px 0 18px; font-size: 32px; font-weight: 600; }
dl.facts { display: grid; grid-template-columns: repeat(auto-fit, minmax(180px, 1fr));
  gap: 8px 24px; margin: 0; }
dl.facts div { border-left: 2px solid rgba(255,255,255,.35); padding-left: 10px; }
dl.facts dt { font-size: 11px; text-transform: uppercase; letter-spacing: .08em; opacity: .75; }
dl.facts dd { margin: 0; font-size: 14px; }
main { padding: 28px 48px 40px; }
h2 { font-size: 20px; margin: 0 0 4px; }
h3 { font-size: 13px; text-transform: uppercase; letter-spacing: .08em; color: var(--muted);
  margin: 0 0 8px; }
section.summary { margin-bottom: 28px; }
section.summary p { margin: 0 0 12px; color: var(--muted); }
ul.tiles { list-style: none; padding: 0; margin: 0; display: flex; flex-wrap: wrap; gap: 12px; }
ul.tiles li { min-width: 120px; padding: 10px 14px; border: 1px solid var(--line);
  border-top: 4px solid var(--tone); border-radius: 6px; }
ul.tiles .n { display: block; font-size: 26px; font-weight: 600; }
ul.tiles .w { color: var(--muted); font-size: 13px; }
section.bus { border-top: 1px solid var(--line); padding-top: 22px; margin-top: 22px;
  break-inside: avoid-page; }
p.port { margin: 0 0 16px; color: var(--muted); }
p.port code { color: var(--ink); font: 13px/1 ui-monospace, "Cascadia Mono", "DejaVu Sans Mono",
  monospace; background: #eef1f4; padding: 2px 5px; border-radius: 3px; }
.outcome-bad { color: #c62828; font-weight: 600; }
p.warning { margin: 0 0 16px; padding: 8px 12px; border-left: 4px solid #d08a00;
  background: #fdf5e6; }
.bus-body { display: grid; grid-template-columns: 384px 1fr; gap: 24px; align-items: start; }
@media (max-width: 900px) { .bus-body { grid-template-columns: 1fr; } }
figure.map { margin: 0; }
figure.map svg { display: block; }
figure.map text { font: 9px system-ui, sans-serif; fill: var(--muted); }
figure.map text.g { font-size: 12px; fill: #fff; }
ul.legend { list-style: none; padding: 0; margin: 10px 0 0; display: flex; flex-wrap: wrap;
  gap: 4px 14px; font-size: 12px; color: var(--muted); }
ul.legend .sw { display: inline-block; width: 11px; height: 11px; border-radius: 2px;
  margin-right: 5px; vertical-align: -1px; }
table { width: 100%; border-collapse: collapse; font-size: 13.5px; }
th { text-align: left; font-size: 11px; text-transform: uppercase; letter-spacing: .06em;
  color: var(--muted); border-bottom: 2px solid var(--line); padding: 6px 8px; }
td { border-bottom: 1px solid var(--line); padding: 7px 8px; vertical-align: top; }
tr { break-inside: avoid; }
td.addr { font-variant-numeric: tabular-nums; font-weight: 600; width: 56px; }
td.file { white-space: nowrap; }
td.file .none { color: var(--muted); font-style: italic; }
td.times { white-space: nowrap; font-variant-numeric: tabular-nums; color: var(--muted); }
span.pill { display: inline-block; padding: 1px 9px; border-radius: 10px; color: #fff;
  background: var(--tone); font-size: 12.5px; white-space: nowrap; }
td ul { margin: 0; padding-left: 16px; }
p.none { color: var(--muted); font-style: italic; }
footer { padding: 16px 48px 28px; color: var(--muted); font-size: 12px;
  border-top: 1px solid var(--line); }
@media print {
  body { background: #fff; }
  .page { max-width: none; }
  header.cover, main, footer { padding-left: 0; padding-right: 0; }
  header.cover { padding: 20px 16px; }
}
)css";

QString tone(module_status status)
{
    return QStringLiteral("--tone: ") + QLatin1String(look_of(status).colour);
}

QString fact(const QString& label, const QString& value)
{
    return QStringLiteral("<div><dt>%1</dt><dd>%2</dd></div>").arg(esc(label), esc(value));
}

// The audit log's head after the run, the owner's checkpoint of the log; none without a log.
QString log_head_fact(const site_result& result, const site_report_words& words)
{
    if (result.log_head.isEmpty())
        return {};
    return QStringLiteral("<div class=\"head\"><dt>%1</dt><dd><code class=\"log-head\">sha256:%2"
                          "</code></dd></div>")
        .arg(esc(words.label(report_label::log_head)), QString::fromLatin1(result.log_head));
}

// The legend of every map of `result`, the same items in the same order on every bus: the
// statuses the action gives, in the summary's order, then the empty kinds the site has.
QString legend_of(const site_result& result, const site_report_words& words)
{
    bool any_scanned = false;
    bool any_unscanned = false;
    for (const bus_result& bus : result.buses) {
        any_scanned = any_scanned || bus.scanned_any();
        any_unscanned = any_unscanned || !bus.scanned(0) || !bus.scanned(255);
    }
    QString legend = QStringLiteral("<ul class=\"legend\" aria-label=\"%1\">")
                         .arg(esc(words.label(report_label::legend)));
    for (const module_status status : summary_statuses(result.action)) {
        legend += QStringLiteral("<li><span class=\"sw\" style=\"background:%1\"></span>%2 %3</li>")
                      .arg(QLatin1String(look_of(status).colour),
                           QString::fromUtf8(look_of(status).glyph), esc(words.status(status)));
    }
    if (any_scanned)
        legend += QStringLiteral("<li><span class=\"sw\" style=\"background:%1\"></span>%2</li>")
                      .arg(QLatin1String(EMPTY_CELL_COLOUR),
                           esc(words.label(report_label::no_module_at)));
    if (any_unscanned)
        legend +=
            QStringLiteral("<li><span class=\"sw\" style=\"background:%1;border:1px solid "
                           "%2\"></span>%3</li>")
                .arg(QLatin1String(UNSCANNED_CELL_COLOUR), QLatin1String(UNSCANNED_CELL_STROKE),
                     esc(words.label(report_label::not_scanned)));
    return legend + QStringLiteral("</ul>");
}

QString bus_map(const bus_result& bus, int index, const QString& legend,
                const site_report_words& words)
{
    std::array<const module_result*, 256> at{};
    for (const module_result& m : bus.modules) {
        if (m.address >= 0 && m.address < 256)
            at[std::size_t(m.address)] = &m;
    }
    const QString id = QStringLiteral("map%1").arg(index);
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" role=\"img\" "
                                 "aria-labelledby=\"%1-t %1-d\" width=\"%2\" height=\"%3\" "
                                 "viewBox=\"0 0 %2 %3\"><title id=\"%1-t\">%4</title>"
                                 "<desc id=\"%1-d\">%5</desc>")
                      .arg(id, num(MAP_SIZE_X), num(MAP_SIZE_Y), esc(words.map_title(bus)),
                           esc(words.map_description(bus)));
    svg += QStringLiteral("<g aria-hidden=\"true\">");
    for (int column = 0; column < 16; ++column)
        svg += QStringLiteral("<text x=\"%1\" y=\"12\" text-anchor=\"middle\">%2</text>")
                   .arg(num(LEFT + column * (CELL + GAP) + CELL / 2), num(column));
    for (int row = 0; row < 16; ++row)
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                   .arg(num(LEFT - 5), num(TOP + row * (CELL + GAP) + CELL / 2 + 3), num(row * 16));
    svg += QStringLiteral("</g>");
    for (int address = 0; address < 256; ++address) {
        const int x = LEFT + address % 16 * (CELL + GAP);
        const int y = TOP + address / 16 * (CELL + GAP);
        const module_result* m = at[std::size_t(address)];
        if (!m && bus.scanned(address)) {
            svg += QStringLiteral("<rect class=\"cell\" x=\"%1\" y=\"%2\" width=\"%3\" "
                                  "height=\"%3\" rx=\"3\" fill=\"%4\"/>")
                       .arg(num(x), num(y), num(CELL), QLatin1String(EMPTY_CELL_COLOUR));
            continue;
        }
        if (!m) {
            svg += QStringLiteral("<rect class=\"cell unscanned\" x=\"%1\" y=\"%2\" "
                                  "width=\"%3\" height=\"%3\" rx=\"3\" fill=\"%4\" "
                                  "stroke=\"%5\"/>")
                       .arg(QString::number(x + 0.5), QString::number(y + 0.5), num(CELL - 1),
                            QLatin1String(UNSCANNED_CELL_COLOUR),
                            QLatin1String(UNSCANNED_CELL_STROKE));
            continue;
        }
        const status_look look = look_of(m->status);
        svg +=
            QStringLiteral("<rect class=\"cell %1\" x=\"%2\" y=\"%3\" width=\"%4\" height=\"%4\" "
                           "rx=\"3\" fill=\"%5\"><title>%6</title></rect>"
                           "<text class=\"g\" x=\"%7\" y=\"%8\" text-anchor=\"middle\" "
                           "aria-hidden=\"true\">%9</text>")
                .arg(QLatin1String(look.css), num(x), num(y), num(CELL), QLatin1String(look.colour),
                     esc(words.cell_title(address, *m)), num(x + CELL / 2), num(y + CELL / 2 + 4),
                     QString::fromUtf8(look.glyph));
    }
    svg += QStringLiteral("</svg>");

    if (legend.isEmpty())  // a compact bus's: the legend stands once above them all
        return QStringLiteral("<figure class=\"map\">%1</figure>").arg(svg);
    return QStringLiteral("<figure class=\"map\"><h3>%1</h3>%2<figcaption>%3</figcaption>"
                          "</figure>")
        .arg(esc(words.label(report_label::bus_map)), svg, legend);
}

// The differences found in `m`, or what a write changed, as a list; nothing else.
QString difference_list(const module_result& m, const site_report_words& words)
{
    const std::vector<config_difference>& listed =
        m.status == module_status::written ? m.changes : m.differences;
    if (!(differences_found(m) || m.status == module_status::written) || listed.empty())
        return {};
    QString list = QStringLiteral("<ul>");
    for (const config_difference& d : listed)
        list += QStringLiteral("<li>%1</li>").arg(esc(words.difference(d, m.status)));
    return list + QStringLiteral("</ul>");
}

// The id of module `m`'s row on bus `index` (0-based), the index's link target.
QString row_id(int index, const module_result& m)
{
    return QStringLiteral("b%1-m%2").arg(index + 1).arg(m.address);
}

// The rows of the bus's modules: every module with `all`, else those worth a line.
QString module_rows(const bus_result& bus, int index, bool all, const site_report_words& words)
{
    QString rows;
    for (const module_result& m : bus.modules) {
        if (!all && !module_worth_a_line(bus, m))
            continue;
        QString details = difference_list(m, words);
        if (const QString detail = words.detail(m); !detail.isEmpty())
            details += esc(detail);
        rows +=
            QStringLiteral("<tr class=\"m-%1\" id=\"%8\"><td class=\"addr\">%2</td>"
                           "<td class=\"file\">%3</td><td><span class=\"pill\" "
                           "style=\"%4\">%5</span></td><td>%6</td><td class=\"times\">%7"
                           "</td></tr>")
                .arg(QLatin1String(look_of(m.status).css), num(m.address),
                     m.panel >= 0 ? esc(m.panel_path)
                                  : QStringLiteral("<span class=\"none\">%1</span>")
                                        .arg(esc(words.label(report_label::no_panel))),
                     tone(m.status), esc(words.status(m.status)), details,
                     m.replies ? esc(words.reply_times(*m.replies)) : QString(), row_id(index, m));
    }
    return rows;
}

// "4 same · 1 different": the bus's modules by status, in the summary's order.
QString bus_counts(const site_result& result, const bus_result& bus, const site_report_words& words)
{
    std::array<int, MODULE_STATUS_COUNT> by_status{};
    for (const module_result& m : bus.modules)
        ++by_status[std::size_t(m.status)];
    QStringList parts;
    for (const module_status status : summary_statuses(result.action)) {
        if (by_status[std::size_t(status)] > 0)
            parts << QStringLiteral("<span style=\"%1\"><b class=\"dot\"></b>%2 %3</span>")
                         .arg(tone(status), num(by_status[std::size_t(status)]),
                              esc(words.count(status)));
    }
    if (parts.isEmpty())
        return QStringLiteral("<p class=\"counts\">%1</p>")
            .arg(esc(words.label(report_label::no_modules)));
    return QStringLiteral("<p class=\"counts\">%1</p>").arg(parts.join(QStringLiteral(" \u00B7 ")));
}

// A bus with nothing to say, in a few lines: its name, port, counts and map, and that its line
// showed no finding.
QString compact_bus(const site_result& result, const bus_result& bus, int index,
                    const site_report_words& words)
{
    QString html =
        QStringLiteral("<section class=\"bus compact\" id=\"bus-%1\"><h2>%2</h2>"
                       "<p class=\"port\">%3 <code>%4</code></p>%5%6")
            .arg(num(index + 1), esc(bus.name), esc(words.label(report_label::port)), esc(bus.port),
                 bus_counts(result, bus, words), bus_map(bus, index, QString(), words));
    if (bus.health)
        html += QStringLiteral("<p class=\"calm-health\">%1: %2</p>")
                    .arg(esc(words.health_word(health_label::line_health)),
                         esc(words.health_word(health_label::no_findings)));
    return html + QStringLiteral("</section>");
}

QString bus_section(const site_result& result, const bus_result& bus, int index,
                    const QString& legend, bool all, const site_report_words& words)
{
    const QString warning = words.scan_warning(bus);
    QString html =
        QStringLiteral("<section class=\"bus\" id=\"bus-%1\"><h2>%2</h2>"
                       "<p class=\"port\">%3 <code>%4</code> \u00B7 <span%5>%6</span>"
                       "</p>%7<div class=\"bus-body\">%8<div>")
            .arg(num(index + 1), esc(bus.name), esc(words.label(report_label::port)), esc(bus.port),
                 bus.reachable() ? QString() : QStringLiteral(" class=\"outcome-bad\""),
                 esc(words.bus_outcome(bus)),
                 warning.isEmpty()
                     ? QString()
                     : QStringLiteral("<p class=\"warning\">%1</p>").arg(esc(warning)),
                 bus_map(bus, index, legend, words));
    html += bus_counts(result, bus, words);
    if (bus.modules.empty()) {
        html += QStringLiteral("<p class=\"none\">%1</p>")
                    .arg(esc(words.label(report_label::no_modules)));
    } else if (all ||
               std::any_of(bus.modules.begin(), bus.modules.end(),
                           [&](const module_result& m) { return module_worth_a_line(bus, m); })) {
        html +=
            QStringLiteral("<table><thead><tr><th>%1</th><th>%2</th><th>%3</th><th>%4</th>"
                           "<th>%5</th></tr></thead><tbody>%6</tbody></table>")
                .arg(esc(words.label(report_label::address)), esc(words.label(report_label::panel)),
                     esc(words.label(report_label::status)),
                     esc(words.label(report_label::details)),
                     esc(words.label(report_label::reply_times)),
                     module_rows(bus, index, all, words));
    }
    return html + QStringLiteral("</div></div>") + health_section(bus, index, words) +
           QStringLiteral("</section>");
}

// What is wrong with module `m`, in one cell: its differences, then the rest.
QString module_problem(const module_result& m, const site_report_words& words)
{
    QString text = difference_list(m, words);
    if (const QString detail = words.detail(m); !detail.isEmpty())
        text += esc(detail);
    return text;
}

// The index of the open items (as open_items() counts them), each with a link to its entry.
QString index_section(const site_result& result, const site_report_words& words)
{
    QString rows;
    const auto row = [&](const QString& target, const QString& bus, const QString& address,
                         const QString& status_cell, const QString& what) {
        rows += QStringLiteral("<tr><td><a href=\"#%1\">%2</a></td><td class=\"addr\">%3</td>"
                               "<td>%4</td><td>%5</td></tr>")
                    .arg(target, esc(bus), address, status_cell, what);
    };
    const auto pill = [&](const QString& tone_style, const QString& word) {
        return QStringLiteral("<span class=\"pill\" style=\"%1\">%2</span>")
            .arg(tone_style, esc(word));
    };
    const QString bad = QStringLiteral("--tone: #c62828");
    const QString doubtful = QStringLiteral("--tone: #d08a00");
    for (int b = 0; b < int(result.buses.size()); ++b) {
        const bus_result& bus = result.buses[std::size_t(b)];
        const QString section = QStringLiteral("bus-%1").arg(b + 1);
        if (!bus.reachable()) {
            row(section, bus.name, QString(), pill(bad, words.label(report_label::unreachable)),
                esc(words.bus_outcome(bus)));
            continue;
        }
        if (bus.doubt)
            row(section, bus.name, QString(), pill(doubtful, words.label(report_label::scan_doubt)),
                esc(words.scan_warning(bus)));
        for (const module_result& m : bus.modules) {
            if (module_open(m))
                row(row_id(b, m), bus.name, num(m.address),
                    pill(tone(m.status), words.status(m.status)), module_problem(m, words));
        }
    }
    if (rows.isEmpty())
        return {};
    return QStringLiteral("<section class=\"index\"><h3>%1</h3><table><thead><tr><th>%2</th>"
                          "<th>%3</th><th>%4</th><th>%5</th></tr></thead><tbody>%6</tbody>"
                          "</table></section>")
        .arg(esc(words.label(report_label::open_items)), esc(words.label(report_label::bus)),
             esc(words.label(report_label::address)), esc(words.label(report_label::status)),
             esc(words.label(report_label::problem)), rows);
}

// Every bus, in the site's order: a bus with something to say whole, the others compactly,
// side by side under one legend (every bus whole with `all`).
QString bus_sections(const site_result& result, bool all, const site_report_words& words)
{
    const QString legend = legend_of(result, words);
    QString html;
    bool in_calm = false;
    for (int i = 0; i < int(result.buses.size()); ++i) {
        const bus_result& bus = result.buses[std::size_t(i)];
        const bool compact = !all && !bus_worth_a_line(bus);
        if (compact && !in_calm)
            html += QStringLiteral("<div class=\"calm\">%1<div class=\"calm-grid\">").arg(legend);
        else if (!compact && in_calm)
            html += QStringLiteral("</div></div>");
        in_calm = compact;
        html += compact ? compact_bus(result, bus, i, words)
                        : bus_section(result, bus, i, legend, all, words);
    }
    if (in_calm)
        html += QStringLiteral("</div></div>");
    return html;
}

QString summary_section(const site_result& result, const site_report_words& words)
{
    const site_counts counts = count_site(result);
    QString tiles;
    for (const module_status status : summary_statuses(result.action)) {
        const bool own =
            status != module_status::interrupted && status != module_status::not_reached;
        if (!own && counts[status] == 0)
            continue;
        tiles += QStringLiteral("<li style=\"%1\"><span class=\"n\">%2</span><span class=\"w\">%3"
                                "</span></li>")
                     .arg(tone(status), num(counts[status]), esc(words.count(status)));
    }
    if (counts.unreachable > 0)
        tiles +=
            QStringLiteral("<li style=\"--tone: #c62828\"><span class=\"n\">%1</span>"
                           "<span class=\"w\">%2</span></li>")
                .arg(num(counts.unreachable), esc(words.unreachable_count(counts.unreachable)));
    return QStringLiteral("<section class=\"summary\"><h3>%1</h3><p>%2</p><ul class=\"tiles\">%3"
                          "</ul></section>")
        .arg(esc(words.label(report_label::summary)), esc(words.site_size(counts)), tiles);
}

}  // namespace

// Control characters, which neither HTML nor XML may hold, are shown as U+FFFD.
QString report_escape(const QString& text)
{
    QString escaped = text.toHtmlEscaped();
    for (QChar& c : escaped) {
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n') || c.unicode() == 0x7F)
            c = QChar::ReplacementCharacter;
    }
    return escaped;
}

QByteArray site_report_html(const site_result& result, const report_facts& facts,
                            const site_report_words& words, const report_options& options)
{
    QString html =
        QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\"><head><meta charset=\"utf-8\"/>"
                       "<meta name=\"viewport\" content=\"width=device-width, "
                       "initial-scale=1\"/><title>%2 \u2013 %3</title><style>%4%5</style>"
                       "</head><body><div class=\"page\">")
            .arg(esc(words.language()), esc(result.site), esc(words.action(result.action)),
                 QString::fromUtf8(STYLE),
                 QString::fromUtf8(HEALTH_STYLE) + QString::fromUtf8(PARTS_STYLE));
    const int open = open_items(result);
    html +=
        QStringLiteral("<header class=\"cover\"><p class=\"kind\">%1</p><h1>%2</h1>"
                       "<p class=\"verdict %8\">%9</p>"
                       "<dl class=\"facts\">%3%4%5%6%7</dl></header><main>")
            .arg(esc(words.action(result.action)), esc(result.site),
                 fact(words.label(report_label::time), words.time(facts.time)),
                 fact(words.label(report_label::duration), words.duration(result.seconds)),
                 fact(words.label(report_label::user), facts.user),
                 fact(words.label(report_label::host), facts.host),
                 fact(words.label(report_label::tool), facts.tool) + log_head_fact(result, words),
                 open == 0 ? QStringLiteral("complete") : QStringLiteral("open"),
                 esc(words.verdict(result.action, open)));
    html += index_section(result, words) + summary_section(result, words) +
            bus_sections(result, options.all_rows, words) + files_section(result, facts, words);
    if (options.as_built)
        html += as_built_section(result, *options.as_built, words);
    html += QStringLiteral("</main><footer>%1 \u00B7 %2</footer></div></body></html>\n")
                .arg(esc(facts.tool), esc(words.time(facts.time)));
    return html.toUtf8();
}

std::optional<QString> report_file::open(const QString& path)
{
    file_.emplace(path);
    if (!file_->open(QIODevice::WriteOnly)) {
        const QString reason = file_->errorString();
        file_.reset();
        return reason;
    }
    return std::nullopt;
}

std::optional<QString> report_file::commit(const QByteArray& html)
{
    if (!file_)
        return QString();
    if (file_->write(html) != html.size() || !file_->commit()) {
        const QString reason = file_->errorString();
        file_->cancelWriting();
        file_.reset();
        return reason;
    }
    file_.reset();
    return std::nullopt;
}

void report_file::cancel()
{
    if (file_)
        file_->cancelWriting();
    file_.reset();
}

}  // namespace lorvane
