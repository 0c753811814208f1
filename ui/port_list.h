// The list of 串口号: the ports the system lists, then the serial servers found on the
// network (each with its name and kind; picking one puts dnssd:NAME into the box). It opens
// only on demand; the servers are looked for in the background while it is open, and when
// discovery cannot run its last entry says why.
#pragma once

#include "dnssd_browser.h"

#include <QObject>

#include <memory>

class QCompleter;
class QLineEdit;
class QStandardItemModel;

namespace lorvane {

class port_list final : public QObject
{
    Q_OBJECT

public:
    // The list of `box`, whose text a pick replaces.
    explicit port_list(QLineEdit* box);
    ~port_list() override;

    // Re-reads the system's ports (an adapter plugged in since shows up), keeping the
    // servers found, and puts them in the box's tooltip.
    void refresh();
    // Opens the list below the box and looks for servers until it closes.
    void show();

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Rebuilds the entries after the system's ports, keeping the highlighted one highlighted.
    void show_servers();
    // Those entries: the servers found, or why there are none.
    void add_servers();
    void stop_browsing();

    QLineEdit* box_;
    QStandardItemModel* model_;
    QCompleter* picker_;
    int local_rows_ = 0;  // the system's ports, first in the list
    std::unique_ptr<dnssd_browser> browser_;
};

}  // namespace lorvane
