#include "port_list.h"

#include "language.h"
#include "port_listing.h"
#include "port_texts.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QLineEdit>
#include <QStandardItemModel>

namespace lorvane {

namespace {

// The text a pick puts into the box; the list shows each entry's own words.
constexpr int PORT_TEXT_ROLE = Qt::UserRole + 1;

QStandardItem* entry(const QString& shown, const QString& port_text)
{
    auto* item = new QStandardItem(shown);
    item->setData(port_text, PORT_TEXT_ROLE);
    item->setEditable(false);
    if (port_text.isEmpty())
        item->setFlags(Qt::NoItemFlags);  // a note, not something to pick
    return item;
}

}  // namespace

port_list::port_list(QLineEdit* box)
    : QObject(box), box_(box), model_(new QStandardItemModel(this)),
      picker_(new QCompleter(model_, this))
{
    // A list that opened while typing would swallow the next click outside it, so typing a
    // name and clicking 打开 would do nothing the first time: it opens on demand only.
    picker_->setWidget(box_);
    picker_->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
    picker_->setCompletionRole(PORT_TEXT_ROLE);
    connect(picker_, qOverload<const QString&>(&QCompleter::activated), box_, &QLineEdit::setText);
    picker_->popup()->installEventFilter(this);
}

port_list::~port_list() = default;

void port_list::refresh()
{
    // The system's ports are replaced; the entries after them stay.
    model_->removeRows(0, local_rows_);
    QStringList tips;
    const std::vector<port_entry> ports = available_ports();
    for (std::size_t i = 0; i < ports.size(); ++i) {
        const port_entry& port = ports[i];
        QStandardItem* item = entry(port.name, port.name);
        const QString description = port_description(port);
        item->setToolTip(description);
        model_->insertRow(int(i), item);
        tips << (description.isEmpty() ? port.name
                                       : port.name + main_form_tr::tr("：") + description);
    }
    local_rows_ = int(ports.size());
    box_->setToolTip(tips.isEmpty()
                         ? main_form_tr::tr("串口号：输入 1 表示第一个串口，或输入设备名/路径")
                         : main_form_tr::tr("可用串口（按 ↓ 键选择）：\n") + tips.join(u'\n'));
}

void port_list::show()
{
    refresh();
    if (!browser_) {
        browser_ = std::make_unique<dnssd_browser>();
        connect(browser_.get(), &dnssd_browser::changed, this, &port_list::show_servers);
        connect(browser_.get(), &dnssd_browser::failed, this, &port_list::show_servers);
        browser_->start();
    }
    show_servers();
    picker_->setCompletionPrefix(QString());
    picker_->complete();
}

void port_list::show_servers()
{
    // The rows are rebuilt whenever the network changes; the entry the user has highlighted
    // stays highlighted, so that Return picks what they were looking at.
    QAbstractItemView* view = picker_->popup();
    const QString highlighted = view->currentIndex().data(PORT_TEXT_ROLE).toString();
    add_servers();
    if (highlighted.isEmpty())
        return;
    const QAbstractItemModel* shown = view->model();
    for (int row = 0; row < shown->rowCount(); ++row) {
        const QModelIndex index = shown->index(row, 0);
        if (index.data(PORT_TEXT_ROLE).toString() == highlighted) {
            view->setCurrentIndex(index);
            return;
        }
    }
}

void port_list::add_servers()
{
    model_->removeRows(local_rows_, model_->rowCount() - local_rows_);
    if (!browser_)
        return;
    if (const auto problem = browser_->problem()) {
        model_->appendRow(entry(discovery_missing_text(*problem), {}));
        return;
    }
    for (const dnssd_service& server : browser_->services()) {
        QStandardItem* item =
            entry(server_entry_text(server),
                  server.url() ? QStringLiteral("dnssd:") + server.name : QString());
        item->setToolTip(
            port_texts_tr::tr("%1（%2）").arg(server.url().value_or(server.stack), server.host));
        model_->appendRow(item);
    }
    if (model_->rowCount() == 0)  // the list opens with something in it
        model_->appendRow(entry(translated("port_texts", DISCOVERY_SEARCHING_TEXT), {}));
}

void port_list::stop_browsing()
{
    browser_.reset();
}

bool port_list::eventFilter(QObject* watched, QEvent* event)
{
    // The servers are looked for while the list is open, not after.
    if (watched == picker_->popup() && event->type() == QEvent::Hide)
        stop_browsing();
    return QObject::eventFilter(watched, event);
}

}  // namespace lorvane
