#include "site_tree.h"

#include "health_texts.h"
#include "language.h"
#include "site_loader.h"
#include "site_texts.h"

#include <QBrush>
#include <QColor>
#include <QDir>
#include <QHeaderView>
#include <QProgressBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace lorvane {

namespace {

enum column { ADDRESS_COLUMN, PANEL_COLUMN, STATUS_COLUMN, DIFFERENCE_COLUMN, REPLY_COLUMN };
constexpr int BUS_ROLE = Qt::UserRole;          // the bus's index in the site
constexpr int ADDRESS_ROLE = Qt::UserRole + 1;  // a module row's address; -1 on a bus row
constexpr int OUTCOME_ROLE = Qt::UserRole + 2;  // true once the row's outcome is in
// Whether the row has something to say: a module's problem, or a bus's own (unreachable, a scan
// in doubt, a finding of its line that names none of its modules).
constexpr int PROBLEM_ROLE = Qt::UserRole + 3;  // F8 stops here
constexpr int SAYS_ROLE = Qt::UserRole + 4;     // 只看问题 shows it: a problem, or written

const QColor PROBLEM_COLOUR(0xb0, 0x6e, 0x00);
const QColor FAILURE_COLOUR(0xc6, 0x28, 0x28);

QString step_status(transfer_step step)
{
    switch (step) {
    case transfer_step::first_read:
        return site_window_tr::tr("正在读取");
    case transfer_step::write:
        return site_window_tr::tr("正在写入");
    case transfer_step::read_back:
        return site_window_tr::tr("正在读回");
    }
    return {};
}

// The status's colour, as the report shows it, for the statuses that ask for a look.
QBrush status_colour(module_status status)
{
    switch (status) {
    case module_status::different:
        return PROBLEM_COLOUR;
    case module_status::missing:
    case module_status::failed:
        return FAILURE_COLOUR;
    case module_status::unexpected:
        return QColor(0x6a, 0x3d, 0x9a);
    case module_status::written:
        return QColor(0x15, 0x65, 0xc0);
    default:
        return {};
    }
}

// Panel paths can be long and differ at either end (the bus's folder, the module's number):
// the column keeps both ends and drops the middle.
class middle_elided final : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->textElideMode = Qt::ElideMiddle;
    }
};

QTreeWidgetItem* module_item(QTreeWidgetItem* parent, int bus, int address, const QString& panel)
{
    auto* row = new QTreeWidgetItem(parent, {QString::number(address), panel});
    row->setData(ADDRESS_COLUMN, BUS_ROLE, bus);
    row->setData(ADDRESS_COLUMN, ADDRESS_ROLE, address);
    return row;
}

bool has_problem(const QTreeWidgetItem* row)
{
    return row->data(ADDRESS_COLUMN, PROBLEM_ROLE).toBool();
}

bool says_something(const QTreeWidgetItem* row)
{
    return row->data(ADDRESS_COLUMN, SAYS_ROLE).toBool();
}

bool outcome_in(const QTreeWidgetItem* row)
{
    return row->data(ADDRESS_COLUMN, OUTCOME_ROLE).toBool();
}

// The words of the findings of `bus`'s line that `which` picks, joined for the 差异 column.
template <typename Pick> QString findings_words(const bus_result& bus, Pick which)
{
    QStringList words;
    if (bus.health) {
        for (const health_finding& f : bus.health->findings) {
            if (which(f))
                words << finding_words(f);
        }
    }
    return words.join(site_window_tr::tr("；"));
}

}  // namespace

site_tree::site_tree(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("site_tree"));
    setColumnCount(5);
    show_texts();
    setUniformRowHeights(true);
    setAlternatingRowColors(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setItemDelegateForColumn(PANEL_COLUMN, new middle_elided(this));
    // The panels' names and the differences share what the window has beyond the fixed columns.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(PANEL_COLUMN, QHeaderView::Stretch);
    header()->setSectionResizeMode(DIFFERENCE_COLUMN, QHeaderView::Stretch);
    setColumnWidth(ADDRESS_COLUMN, 130);
    setColumnWidth(STATUS_COLUMN, 90);
    setColumnWidth(REPLY_COLUMN, 140);
}

void site_tree::show_texts()
{
    setAccessibleName(site_window_tr::tr("总线和模块"));
    setHeaderLabels({site_window_tr::tr("地址"), site_window_tr::tr("配置文件"),
                     site_window_tr::tr("状态"), site_window_tr::tr("差异"),
                     site_window_tr::tr("应答时间")});
    headerItem()->setToolTip(REPLY_COLUMN, site_window_tr::tr("中位数（最短–最长），"
                                                              "每条记录从请求发出到应答到达"));
}

void site_tree::fill(const site_result& result, const QString& site_path)
{
    clear();
    rows_.clear();
    site_path_ = site_path;
    for (int b = 0; b < int(result.buses.size()); ++b) {
        const bus_result& bus = result.buses[std::size_t(b)];
        auto* item = new QTreeWidgetItem(this, {bus.name, bus.port});
        item->setData(ADDRESS_COLUMN, BUS_ROLE, b);
        item->setData(ADDRESS_COLUMN, ADDRESS_ROLE, -1);
        QFont bold = item->font(ADDRESS_COLUMN);
        bold.setBold(true);
        item->setFont(ADDRESS_COLUMN, bold);
        item->setToolTip(PANEL_COLUMN, site_window_tr::tr("串口 ") + bus.port);
        rows_.push_back({item, {}, nullptr, 0});
        for (const module_result& m : bus.modules) {
            QTreeWidgetItem* row = module_item(item, b, m.address, m.panel_path);
            row->setToolTip(PANEL_COLUMN,
                            QDir::toNativeSeparators(panel_file_path(site_path_, m.panel_path)));
            rows_.back().modules.push_back(row);
        }
        item->setExpanded(true);
    }
}

QTreeWidgetItem* site_tree::module_row(int bus, int address) const
{
    for (QTreeWidgetItem* row : rows_[std::size_t(bus)].modules) {
        if (row->data(ADDRESS_COLUMN, ADDRESS_ROLE).toInt() == address)
            return row;
    }
    return nullptr;
}

void site_tree::show_bus_status(int bus, const QString& status)
{
    rows_[std::size_t(bus)].bus->setText(STATUS_COLUMN, status);
}

void site_tree::show_step(int bus, int address, transfer_step step)
{
    if (QTreeWidgetItem* row = module_row(bus, address))
        row->setText(STATUS_COLUMN, step_status(step));
}

void site_tree::show_records(int bus, int address, int confirmed)
{
    if (QTreeWidgetItem* row = module_row(bus, address)) {
        QString text = row->text(STATUS_COLUMN);
        text.truncate(text.indexOf(u' ') < 0 ? text.size() : text.indexOf(u' '));
        row->setText(STATUS_COLUMN,
                     QStringLiteral("%1 %2/%3").arg(text).arg(confirmed).arg(RECORD_COUNT));
    }
}

void site_tree::show_module(int bus, const bus_result& of, const module_result& m)
{
    QTreeWidgetItem* row = module_row(bus, m.address);
    if (!row) {  // a module no panel names, found by the scan
        row = module_item(rows_[std::size_t(bus)].bus, bus, m.address, QString());
        rows_[std::size_t(bus)].modules.push_back(row);
    }
    row->setText(STATUS_COLUMN, status_word(m.status));
    row->setForeground(STATUS_COLUMN, status_colour(m.status));
    QString differences = module_difference_column(m);
    const QString findings =
        findings_words(of, [&](const health_finding& f) { return f.address == m.address; });
    if (!findings.isEmpty())
        differences += (differences.isEmpty() ? QString() : site_window_tr::tr("；")) + findings;
    row->setText(DIFFERENCE_COLUMN, differences);
    row->setToolTip(DIFFERENCE_COLUMN, differences);
    row->setText(REPLY_COLUMN, m.replies ? reply_time_words(*m.replies) : QString());
    row->setData(ADDRESS_COLUMN, OUTCOME_ROLE, true);
    row->setData(ADDRESS_COLUMN, PROBLEM_ROLE, module_has_problem(of, m));
    row->setData(ADDRESS_COLUMN, SAYS_ROLE, module_worth_a_line(of, m));
    apply_filter(rows_[std::size_t(bus)].bus);
}

void site_tree::show_bus_progress(int bus, int value, int maximum, const QString& format)
{
    bus_rows& rows = rows_[std::size_t(bus)];
    if (!rows.progress) {
        rows.progress = new QProgressBar;
        rows.progress->setAccessibleName(
            site_window_tr::tr("%1 的进度").arg(rows.bus->text(ADDRESS_COLUMN)));
        rows.progress->setMaximumHeight(fontMetrics().height() + 2);  // the row's own
        setItemWidget(rows.bus, DIFFERENCE_COLUMN, rows.progress);
    }
    rows.progress->setRange(0, std::max(1, maximum));
    rows.progress->setValue(value);
    rows.progress->setFormat(format);
}

void site_tree::count_module_done(int bus)
{
    bus_rows& rows = rows_[std::size_t(bus)];
    ++rows.done;
    if (rows.progress)
        rows.progress->setValue(rows.done);
}

void site_tree::show_bus_done(int bus, const site_result& run, const bus_result& result)
{
    bus_rows& rows = rows_[std::size_t(bus)];
    if (rows.progress) {
        removeItemWidget(rows.bus, DIFFERENCE_COLUMN);
        rows.progress = nullptr;
    }
    const int problems = bus_problems(result);
    QString status = bus_status_words(problems, run.stopped);
    QString words = bus_counts(result);
    if (!result.reachable()) {
        const bool lost = result.failure->kind == bus_failure_kind::port_lost;
        status = lost ? translated("site_texts", PORT_LOST_WORD)
                      : translated("site_texts", UNREACHABLE_WORD);
        words = bus_failure_words(run, result);
        // Nothing could be done on this bus: its modules say why.
        for (const module_result& m : result.modules) {
            if (!lost && m.status == module_status::not_reached) {
                if (QTreeWidgetItem* row = module_row(bus, m.address)) {
                    row->setText(STATUS_COLUMN, translated("site_texts", UNREACHABLE_WORD));
                    row->setForeground(STATUS_COLUMN, FAILURE_COLOUR);
                }
            }
        }
    }
    if (const QString doubt = scan_doubt_words(result); !doubt.isEmpty())
        words += site_window_tr::tr("；") + doubt;  // the scan may have missed a module
    // What the line showed that no module's row says.
    const QString findings = findings_words(result, [&](const health_finding& f) {
        return !f.address || !module_row(bus, *f.address);
    });
    if (!findings.isEmpty())
        words += site_window_tr::tr("；") + findings;
    rows.bus->setText(STATUS_COLUMN, status);
    rows.bus->setForeground(STATUS_COLUMN, !result.reachable() ? QBrush(FAILURE_COLOUR)
                                           : problems > 0      ? QBrush(PROBLEM_COLOUR)
                                                               : QBrush());
    rows.bus->setText(DIFFERENCE_COLUMN, words);
    rows.bus->setToolTip(DIFFERENCE_COLUMN, words);
    rows.bus->setData(ADDRESS_COLUMN, OUTCOME_ROLE, true);
    rows.bus->setData(ADDRESS_COLUMN, PROBLEM_ROLE, bus_own_problems(result) > 0);
    rows.bus->setData(ADDRESS_COLUMN, SAYS_ROLE, bus_own_problems(result) > 0);
    apply_filter(rows.bus);
}

std::optional<site_tree::place> site_tree::current_place() const
{
    const QTreeWidgetItem* item = currentItem();
    if (!item)
        return std::nullopt;
    return place{item->data(ADDRESS_COLUMN, BUS_ROLE).toInt(),
                 item->data(ADDRESS_COLUMN, ADDRESS_ROLE).toInt()};
}

void site_tree::select_first_module()
{
    for (const bus_rows& rows : rows_) {
        for (QTreeWidgetItem* row : rows.modules) {
            if (!row->isHidden() && !rows.bus->isHidden()) {
                setCurrentItem(row);
                return;
            }
        }
    }
    for (const bus_rows& rows : rows_) {
        if (!rows.bus->isHidden()) {
            setCurrentItem(rows.bus);
            return;
        }
    }
}

void site_tree::apply_filter(QTreeWidgetItem* bus_row)
{
    bool any = !outcome_in(bus_row) || says_something(bus_row);
    for (int i = 0; i < bus_row->childCount(); ++i) {
        QTreeWidgetItem* row = bus_row->child(i);
        const bool says = !outcome_in(row) || says_something(row);
        row->setHidden(only_problems_ && !says);
        any = any || says;
    }
    bus_row->setHidden(only_problems_ && !any);
}

void site_tree::show_only_problems(bool only)
{
    only_problems_ = only;
    for (const bus_rows& rows : rows_)
        apply_filter(rows.bus);
    const auto out_of_sight = [](const QTreeWidgetItem* row) {
        return row && (row->isHidden() || (row->parent() && row->parent()->isHidden()));
    };
    // The current row hidden: the next row that has something to say takes its place.
    if (out_of_sight(currentItem()) && !go_to_problem(true)) {
        select_first_module();
        if (out_of_sight(currentItem()))
            setCurrentItem(nullptr);
    }
    if (currentItem())
        scrollToItem(currentItem());
}

bool site_tree::go_to_problem(bool forward)
{
    // Every row in the tree's order: the current one may have no problem (or none yet).
    std::vector<QTreeWidgetItem*> all;
    for (const bus_rows& rows : rows_) {
        all.push_back(rows.bus);
        for (int i = 0; i < rows.bus->childCount(); ++i)
            all.push_back(rows.bus->child(i));
    }
    const auto n = std::ptrdiff_t(all.size());
    const auto found = std::find(all.begin(), all.end(), currentItem());
    // With no current row, the first step forward lands on the first row, back on the last.
    const std::ptrdiff_t here = found != all.end() ? found - all.begin() : forward ? -1 : n;
    for (std::ptrdiff_t step = 1; step <= n; ++step) {
        const std::ptrdiff_t i = ((forward ? here + step : here - step) % n + n) % n;
        if (has_problem(all[std::size_t(i)])) {
            setCurrentItem(all[std::size_t(i)]);
            scrollToItem(all[std::size_t(i)]);
            return true;
        }
    }
    return false;
}

}  // namespace lorvane
