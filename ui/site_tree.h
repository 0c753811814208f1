// The site window's tree: a row per bus and under it one per module of a run, each showing what
// its bus or module said. It knows which rows have a problem (by the engine's one rule), so that
// 只看问题 can hide the others and F8 / Shift+F8 can go from one problem to the next.
#pragma once

#include "site_result.h"

#include <QTreeWidget>

#include <optional>
#include <vector>

class QProgressBar;

namespace lorvane {

class site_tree final : public QTreeWidget
{
    Q_OBJECT

public:
    explicit site_tree(QWidget* parent);

    // One row per bus, and under it one per module of `result` (planned first, in the site
    // file's order), without statuses yet. `site_path`: the site file, which the panels' paths
    // are relative to.
    void fill(const site_result& result, const QString& site_path);
    // The headers and the tree's name, in the window's language.
    void show_texts();

    // While a run goes on: a bus's own status, a module's step and its records confirmed, a
    // bus's progress bar (in place of its 差异).
    void show_bus_status(int bus, const QString& status);
    void show_step(int bus, int address, transfer_step step);
    void show_records(int bus, int address, int confirmed);
    void show_bus_progress(int bus, int value, int maximum, const QString& format);

    // A module's outcome, judged with what its bus `of` says so far; a module no panel names
    // gets a row of its own.
    void show_module(int bus, const bus_result& of, const module_result& module);
    // A bus's end: its status (完成 only without a problem), its counts, its line's findings.
    void show_bus_done(int bus, const site_result& run, const bus_result& result);

    // The planned modules of `bus` through so far, for its progress.
    int modules_done(int bus) const { return rows_[std::size_t(bus)].done; }
    // One more planned module of `bus` through: its progress bar, while it shows, says so.
    void count_module_done(int bus);

    // The current row: its bus and address (-1 on the bus's own row); nothing without one.
    struct place
    {
        int bus = -1;
        int address = -1;
    };
    std::optional<place> current_place() const;
    void select_first_module();

    // only: hides the rows whose outcome is in and has nothing to say (a bus row stays while
    // any of its rows has something); otherwise every row shows.
    void show_only_problems(bool only);
    bool only_problems() const { return only_problems_; }
    // Makes the next (forward) or previous row with a problem the current one, in the tree's
    // order, going round at either end, and scrolls it into view. False when no row has one.
    bool go_to_problem(bool forward);

private:
    struct bus_rows
    {
        QTreeWidgetItem* bus = nullptr;
        std::vector<QTreeWidgetItem*> modules;  // as the result's modules, then found ones
        QProgressBar* progress = nullptr;
        int done = 0;  // planned modules through
    };

    QTreeWidgetItem* module_row(int bus, int address) const;
    void apply_filter(QTreeWidgetItem* bus_row);

    std::vector<bus_rows> rows_;
    QString site_path_;
    bool only_problems_ = false;
};

}  // namespace lorvane
