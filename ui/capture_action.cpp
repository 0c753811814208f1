#include "capture_action.h"

#include "language.h"
#include "message_box.h"
#include "window_texts.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QWidget>

namespace lorvane {

namespace {

// Read when shown, so that it follows the window's language.
QString CAPTURE_TITLE()
{
    return capture_action_tr::tr("录制线路");
}
// Read when shown, so that it follows the window's language.
QString CAPTURE_FILTER()
{
    return capture_action_tr::tr("线路录制 (*.pcapng);;所有文件 (*)");
}

}  // namespace

capture_action::capture_action(serial_link& link, QWidget* window)
    : link_(link), window_(window), action_(new QAction(capture_action_tr::tr("录制线路…"), window))
{
    action_->setObjectName(QStringLiteral("record_line_action"));
    // Its source text, for the window to show it again in another language.
    action_->setProperty(SOURCE_CONTEXT, QByteArray("capture_action"));
    action_->setProperty(SOURCE_TEXT, QByteArray("录制线路…"));
    action_->setCheckable(true);
    action_->setEnabled(link_.is_open());
    connect(action_, &QAction::triggered, this, &capture_action::on_triggered);
    // However the port went (closed, lost), nothing more can be recorded.
    connect(&link_, &serial_link::closed, this, [this] { port_changed(false); });
}

capture_action::~capture_action()
{
    if (link_.capture() == capture_.get())
        link_.set_capture(nullptr);
}

void capture_action::port_changed(bool open)
{
    if (!open)
        stop();
    action_->setEnabled(open);
}

void capture_action::on_triggered(bool checked)
{
    if (checked)
        start();
    else
        stop();
}

void capture_action::start()
{
    action_->setChecked(false);  // checked only once it records
    if (!link_.is_open() || capture_)
        return;
    const QString port = link_.port_name();
    const QString suggested =
        QStringLiteral("lorvane-%1.pcapng")
            .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")));
    const QString path = file_dialog::save_name(window_, CAPTURE_TITLE(), CAPTURE_FILTER(),
                                                suggested, QStringLiteral("pcapng"));
    if (path.isEmpty() || !link_.is_open())
        return;  // cancelled, or the port went while the dialog was up
    const QString tool =
        QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion();
    auto created = line_capture::create(path, tool + capture_action_tr::tr(": 录制线路 ") + port,
                                        tool, WINDOW_CAPTURE_LIMIT);
    if (const auto* failure = std::get_if<file_failure>(&created)) {
        message_box::show(window_, capture_action_tr::tr("无法录制到 %1：%2")
                                       .arg(shown_file_name(path),
                                            file_failure_text(*failure, true,
                                                              capture_action_tr::tr("录制文件"))));
        return;
    }
    capture_ = std::get<std::unique_ptr<line_capture>>(std::move(created));
    connect(capture_.get(), &line_capture::capture_stopped, this,
            [this, path, self = capture_.get()](line_capture::stop_reason why) {
                const QString text =
                    why == line_capture::stop_reason::limit
                        ? capture_action_tr::tr("录制文件 %1 已达 %2 MiB 上限，此后的线路未录制。")
                              .arg(shown_file_name(path))
                              .arg(WINDOW_CAPTURE_LIMIT / (1024 * 1024))
                        // The reason ends its own sentence.
                        : capture_action_tr::tr("无法继续写入录制文件 %1：%2此后的线路未录制。")
                              .arg(shown_file_name(path),
                                   file_failure_text(self->failure().value_or(file_failure{}), true,
                                                     capture_action_tr::tr("录制文件")));
                // Said from the event loop, never inside the line's own handling of a chunk.
                QMetaObject::invokeMethod(
                    this,
                    [this, self, text] {
                        if (capture_.get() != self)
                            return;  // recording ended meanwhile
                        stop();
                        message_box::show(window_, text);
                    },
                    Qt::QueuedConnection);
            });
    link_.set_capture(capture_.get(), capture_->add_interface(port));
    action_->setChecked(true);
}

void capture_action::stop()
{
    if (capture_ && link_.capture() == capture_.get())
        link_.set_capture(nullptr);
    capture_.reset();
    action_->setChecked(false);
}

}  // namespace lorvane
