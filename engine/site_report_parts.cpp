#include "site_report_parts.h"

#include "site_report_health.h"

#include <QStringList>

namespace lorvane {

namespace {

using report_html::esc;
using report_html::num;

// One file and its SHA-256 (64 hex digits), on one line; `label` before the site file's.
QString digest_item(const QString& label, const QString& file, const QByteArray& sha256)
{
    return QStringLiteral("<li><code class=\"sha256\">%3</code> %1<span class=\"file\">%2</span>"
                          "</li>")
        .arg(label.isEmpty() ? QString()
                             : QStringLiteral("<span class=\"what\">%1</span> ").arg(esc(label)),
             esc(file), QString::fromLatin1(sha256.toHex()));
}

QString key_rows(const panel_config& config, const site_report_words& words)
{
    QString rows;
    for (int k = 0; k < KEY_COUNT; ++k) {
        const key_binding& key = config.keys[std::size_t(k)];
        rows += QStringLiteral("<tr><td class=\"key\">%1</td><td>%2</td><td>%3</td><td>%4</td>"
                               "</tr>")
                    .arg(num(k + 1), num(key.address), num(key.line),
                         esc(words.operation(key.operation)));
    }
    return rows;
}

}  // namespace

QString files_section(const site_result& result, const report_facts& facts,
                      const site_report_words& words)
{
    QString items;
    if (!facts.digests.site.isEmpty())
        items +=
            digest_item(words.label(report_label::site_file), facts.site_file, facts.digests.site);
    // In the site's order, each panel file once.
    for (const bus_result& bus : result.buses) {
        for (const module_result& m : bus.modules) {
            if (m.panel < 0)
                continue;
            const auto digest = facts.digests.panels.find(m.panel_path);
            if (digest != facts.digests.panels.end())
                items += digest_item(QString(), m.panel_path, digest->second);
        }
    }
    if (items.isEmpty())
        return {};
    return QStringLiteral("<section class=\"files\"><h3>%1</h3><p>%2 %3</p>"
                          "<ul class=\"digests\">%4</ul></section>")
        .arg(esc(words.label(report_label::files)), esc(words.label(report_label::tool)),
             esc(facts.tool), items);
}

QString as_built_section(const site_result& result, const site_plan& plan,
                         const site_report_words& words)
{
    QString entries;
    for (std::size_t b = 0; b < result.buses.size(); ++b) {
        const bus_result& bus = result.buses[b];
        for (const module_result& m : bus.modules) {
            const panel_config* config = nullptr;
            QString file;
            if (m.panel >= 0 && b < plan.buses.size() &&
                std::size_t(m.panel) < plan.buses[b].panels.size()) {
                config = &plan.buses[b].panels[std::size_t(m.panel)];
                file = esc(m.panel_path);
            } else if (m.before) {
                config = &*m.before;
                file = QStringLiteral("<i>%1</i>")
                           .arg(esc(words.label(report_label::found_in_module)));
            }
            if (!config)
                continue;
            // A module that does not hold this panel says so beside it.
            const QString status =
                module_open(m) && m.panel >= 0
                    ? QStringLiteral(" \u00B7 <span class=\"open-status\">%1</span>")
                          .arg(esc(words.status(m.status)))
                    : QString();
            entries +=
                QStringLiteral("<article class=\"built\" id=\"built-b%1-m%2\" data-bus=\"%3\" "
                               "data-address=\"%2\"><h3>%3 \u00B7 %4 %2</h3><p>%5 %6 \u00B7 %7 "
                               "%8%9</p>")
                    .arg(num(int(b) + 1), num(m.address), esc(bus.name),
                         esc(words.label(report_label::module)),
                         esc(words.label(report_label::panel)), file,
                         esc(words.label(report_label::refresh_period)),
                         num(config->refresh_period), status);
            entries +=
                QStringLiteral("<table><thead><tr><th>%1</th><th>%2</th><th>%3</th>"
                               "<th>%4</th></tr></thead><tbody>%5</tbody></table>"
                               "</article>")
                    .arg(esc(words.label(report_label::key)),
                         esc(words.label(report_label::key_address)),
                         esc(words.label(report_label::key_line)),
                         esc(words.label(report_label::key_operation)), key_rows(*config, words));
        }
    }
    return QStringLiteral("<section class=\"as-built\" id=\"as-built\"><h2>%1</h2>"
                          "<div class=\"built-grid\">%2</div></section>")
        .arg(esc(words.label(report_label::as_built)), entries);
}

// Printed on A4, the report keeps what needs a look whole and packs the rest: compact buses
// four to a row, the digests in two columns, the as-built entries three to a row.
const char* const PARTS_STYLE = R"css(
header.cover p.verdict { margin: 0 0 16px; font-size: 20px; font-weight: 600; }
header.cover p.verdict.open { color: #ffcdd2; }
header.cover p.verdict.complete { color: #c8e6c9; }
section.index { margin-bottom: 24px; }
section.index td a { color: var(--ink); font-weight: 600; }
p.counts { margin: 0 0 10px; font-size: 13px; }
p.counts span + span { margin-left: 2px; }
p.counts b.dot { display: inline-block; width: 9px; height: 9px; border-radius: 50%;
  background: var(--tone); margin-right: 4px; }
div.calm { border-top: 1px solid var(--line); margin-top: 22px; padding-top: 14px; }
div.calm-grid { display: grid; grid-template-columns: repeat(auto-fill, minmax(220px, 1fr));
  gap: 14px; margin-top: 12px; }
section.bus.compact { border: 1px solid var(--line); border-radius: 6px; padding: 10px 12px;
  margin: 0; break-inside: avoid; }
section.bus.compact h2 { font-size: 15px; }
section.bus.compact p.port { margin: 0 0 4px; font-size: 12px; overflow-wrap: anywhere; }
section.bus.compact figure.map svg { width: 100%; height: auto; max-width: 240px; }
p.calm-health { margin: 6px 0 0; font-size: 12px; color: var(--muted); }
dl.facts div.head { grid-column: 1 / -1; }
code.log-head { font: 13px ui-monospace, "DejaVu Sans Mono", monospace; overflow-wrap: anywhere; }
section.files { border-top: 1px solid var(--line); margin-top: 22px; padding-top: 14px; }
section.files p { margin: 0 0 8px; font-size: 13px; color: var(--muted); }
ul.digests { list-style: none; margin: 0; padding: 0; font-size: 12px; columns: 2 640px;
  column-gap: 24px; }
ul.digests li { break-inside: avoid; overflow-wrap: anywhere; }
ul.digests .what { color: var(--muted); }
code.sha256 { font: 11px ui-monospace, "DejaVu Sans Mono", monospace; margin-right: 6px; }
section.as-built { border-top: 2px solid var(--band); margin-top: 28px; padding-top: 18px; }
div.built-grid { display: grid; grid-template-columns: repeat(auto-fill, minmax(260px, 1fr));
  gap: 14px; }
article.built { break-inside: avoid; border: 1px solid var(--line); border-radius: 6px;
  padding: 8px 10px; }
article.built h3 { margin: 0 0 2px; color: var(--ink); }
article.built p { margin: 0 0 6px; font-size: 12px; color: var(--muted); }
article.built .open-status { color: #c62828; font-weight: 600; }
article.built table { font-size: 12px; }
article.built td, article.built th { padding: 1px 6px; }
@media print {
  @page { size: A4; margin: 11mm 10mm; }
  body { font-size: 10.5px; }
  header.cover { padding: 12px 14px; }
  header.cover h1 { font-size: 22px; margin: 2px 0 6px; }
  header.cover p.verdict { font-size: 16px; margin-bottom: 8px; }
  main { padding-top: 12px; padding-bottom: 0; }
  footer { padding: 8px 0; }
  table { font-size: 10.5px; }
  td { padding: 3px 5px; }
  th { padding: 3px 5px; }
  ul.tiles li { min-width: 80px; padding: 4px 8px; }
  ul.tiles .n { font-size: 17px; }
  section.summary, section.index { margin-bottom: 12px; }
  section.bus { padding-top: 10px; margin-top: 10px; }
  .bus-body, .health-body { grid-template-columns: 240px 1fr; gap: 14px; }
  figure.map svg, figure.histogram svg { width: 240px; height: auto; }
  div.calm { margin-top: 10px; padding-top: 8px; }
  div.calm-grid { grid-template-columns: repeat(5, 1fr); gap: 6px; margin-top: 6px; }
  section.bus.compact { padding: 5px 6px; }
  section.bus.compact h2 { font-size: 11px; margin: 0; }
  section.bus.compact p.port, section.bus.compact p.counts, p.calm-health { font-size: 8.5px;
    margin: 0 0 2px; }
  section.bus.compact figure.map svg { max-width: none; }
  section.files { margin-top: 10px; padding-top: 8px; }
  ul.digests { columns: 2; column-gap: 10px; font-size: 7px; line-height: 1.25; }
  code.sha256 { font-size: 6.6px; margin-right: 3px; }
  code.log-head { font-size: 10px; }
  div.built-grid { grid-template-columns: repeat(3, 1fr); gap: 6px; }
  article.built { padding: 4px 6px; }
  article.built h3 { font-size: 10px; }
  article.built p, article.built table { font-size: 8.5px; }
  article.built td, article.built th { padding: 0 4px; }
  section.as-built { break-before: page; }
}
)css";

}  // namespace lorvane
