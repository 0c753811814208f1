#include "serial_link.h"

#include "dnssd_service.h"
#include "network_port.h"
#include "network_serial_device.h"
#include "port_holders.h"
#include "port_name.h"

#include <QIODevice>

#include <algorithm>
#include <initializer_list>
#include <span>

namespace lorvane {

serial_link::serial_link(QObject* parent) : serial_link(nullptr, parent) {}

serial_link::serial_link(std::unique_ptr<serial_device> local, QObject* parent)
    : QObject(parent), local_(local ? std::move(local) : make_serial_device()),
      network_(std::make_unique<network_serial_device>()), port_(local_.get())
{
    for (serial_device* device :
         std::initializer_list<serial_device*>{local_.get(), network_.get()}) {
        connect(device, &serial_device::bytes_received, this, &serial_link::on_bytes_received);
        connect(device, &serial_device::failed, this, &serial_link::on_device_failed);
        connect(device, &serial_device::opened, this, [this] {
            loss_pending_ = false;
            reset_input();
            reset_health();
            Q_EMIT opened();
        });
        connect(device, &serial_device::open_failed, this, [this](const port_failure& failure) {
            port_holders::release(this);
            Q_EMIT open_failed(failure);
        });
    }
}

serial_link::~serial_link()
{
    port_holders::release(this);
    // The operations outlive their line here only while their owners tear down; they end
    // silently, for nobody is left to hear them.
    for (const QPointer<line_operation>& op : queue_) {
        if (op) {
            op->state_ = line_operation::state::finished;
            op->line_ = nullptr;
        }
    }
    if (running_) {
        running_->state_ = line_operation::state::finished;
        running_->line_ = nullptr;
    }
    queue_.clear();
    running_ = nullptr;
}

// The device for the next open: the system's serial device, or the network device. The
// current one stays while it is open or opening, so that it reports itself as already open.
void serial_link::use_device(bool network)
{
    if (!port_->is_open() && !port_->is_opening())
        port_ = network ? network_.get() : local_.get();
}

std::optional<port_failure> serial_link::open(const QString& port_text)
{
    const QString text = port_text.trimmed();
    if (is_dnssd_port_text(text)) {
        if (!dnssd_port_name(text))
            return port_failure{port_failure_kind::bad_name, text, {}};
        use_device(true);
        device_ = text;
    } else if (is_network_port_text(text)) {
        if (!parse_network_port(text).ok())
            return port_failure{port_failure_kind::bad_name, text, {}};
        use_device(true);
        device_ = text;
    } else {
        const port_name_result name = system_port_name(port_text);
        if (!name.ok())
            return port_failure{port_failure_kind::bad_name, text, {}};
        use_device(false);
        device_ = name.device;
    }
    // A port that another link of this program holds (a site run, another window) is refused
    // before the system is asked. A port of this link's that is still open answers for itself.
    const bool fresh = !port_->is_open() && !port_->is_opening();
    if (fresh && !port_holders::take(device_identity(device_).value_or(device_), this))
        return port_failure{port_failure_kind::in_use_here, device_, {}};
    if (auto failure = port_->open(device_)) {
        if (fresh)
            port_holders::release(this);
        return failure;
    }
    loss_pending_ = false;
    reset_input();
    if (!port_->is_opening())
        reset_health();
    return std::nullopt;
}

void serial_link::close()
{
    const bool was_open = port_->is_open();
    shut_port(operation_end::port_closed);
    if (was_open)
        Q_EMIT closed();
}

void serial_link::shut_port(operation_end end)
{
    port_->close();
    port_holders::release(this);
    reset_input();
    finish_all(end);
}

void serial_link::reset_input()
{
    stream_.clear();
    ++generation_;
}

bool serial_link::is_open() const
{
    return port_->is_open();
}

bool serial_link::is_opening() const
{
    return port_->is_opening();
}

QString serial_link::port_name() const
{
    return device_;
}

void serial_link::set_network_options(const network_options& options)
{
    network_->set_options(options);
}

std::optional<server_certificate> serial_link::peer_certificate() const
{
    if (port_ != network_.get() || !port_->is_open())
        return std::nullopt;
    return network_->peer_certificate();
}

bool serial_link::claim(line_operation& operation)
{
    if (running_ == &operation)
        return true;
    if (!is_open() || running_ || !queue_.empty() || operation.busy())
        return false;
    operation.line_ = this;
    operation.state_ = line_operation::state::running;
    running_ = &operation;
    operation.begin();
    return true;
}

void serial_link::enqueue(line_operation& operation)
{
    queue_.push_back(&operation);
    schedule_next();
}

void serial_link::withdraw(line_operation& operation)
{
    if (running_ == &operation) {
        running_ = nullptr;
        watch_.operation_ended();
        schedule_next();
    }
    std::erase_if(queue_, [&](const QPointer<line_operation>& op) { return op == &operation; });
}

void serial_link::schedule_next()
{
    // From the event loop: never inside submit(), and never inside the handler of the
    // operation that just ended.
    if (start_pending_ || queue_.empty())
        return;
    start_pending_ = true;
    QMetaObject::invokeMethod(this, &serial_link::start_next, Qt::QueuedConnection);
}

void serial_link::start_next()
{
    start_pending_ = false;
    while (!running_ && !queue_.empty()) {
        const QPointer<line_operation> next = queue_.front();
        queue_.pop_front();
        if (!next || next->state_ != line_operation::state::queued)
            continue;
        if (!is_open()) {
            next->finish(operation_end::port_closed);
            continue;
        }
        next->state_ = line_operation::state::running;
        running_ = next;
        next->begin();
    }
}

void serial_link::finish_all(operation_end end)
{
    std::vector<QPointer<line_operation>> ending(queue_.begin(), queue_.end());
    if (running_)
        ending.insert(ending.begin(), running_);
    for (const QPointer<line_operation>& op : ending) {
        if (op)
            op->finish(end);
    }
}

bool serial_link::transmit(line_operation& operation, const frame& request, bool discard)
{
    if (running_ != &operation || !port_->is_open())
        return false;  // a closed port swallows requests silently
    // Each exchange starts from an empty receive side: this is the only resynchronisation
    // of the byte stream. The scan keeps what came, late replies too.
    if (discard) {
        // What arrived but was not handed over yet is recorded before it is dropped: a late
        // reply is what a capture is there to show.
        if (capture_) {
            const QByteArray late = port_->input().readAll();
            capture_->record(capture_interface_, pcapng::direction::inbound, line_capture::now_ns(),
                             late);
        }
        port_->discard_input();
        watch_.tail_dropped(stream_.waiting());
        reset_input();
    }
    if (capture_)  // the time the write starts
        capture_->record(capture_interface_, pcapng::direction::outbound, line_capture::now_ns(),
                         QByteArrayView(request.data(), qsizetype(request.size())));
    port_->send(request);
    watch_.request_out(request, !discard);
    Q_EMIT frame_sent(request);
    return true;
}

void serial_link::on_bytes_received()
{
    const QByteArray bytes = port_->input().readAll();
    if (bytes.isEmpty())
        return;
    if (capture_)
        capture_->record(capture_interface_, pcapng::direction::inbound, line_capture::now_ns(),
                         bytes);
    ++chunk_;
    watch_.chunk_in(std::size_t(bytes.size()));
    Q_EMIT bytes_received(bytes);
    const std::vector<frame_stream::item> items = stream_.feed(std::span(
        reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())));
    const std::uint64_t generation = generation_;
    const QPointer<line_operation> op = running_;
    for (const frame_stream::item& item : items) {
        if (generation_ != generation)
            break;             // a send from the operation discarded everything received so far
        watch_.item_in(item);  // before the operation, which may send the next request
        item_fate fate = fate_of_non_reply(item).value_or(item_fate::unclaimed);
        if (op && op->running())
            fate = op->take(item);
        else if (item.what == frame_stream::item::kind::reply)
            Q_EMIT unclaimed_reply(item.as_frame(), item.in_step(), generation, chunk_);
        Q_EMIT item_received(item, fate, op ? op->request() : frame{});
    }
    if (op && op->running())
        op->chunk_taken();
}

line_health serial_link::health() const
{
    line_health health = watch_.snapshot();
    if (const auto now = port_->os_errors()) {
        const os_line_errors base = os_base_.value_or(os_line_errors{});
        health.line.os_errors = os_line_errors{now->framing - std::min(now->framing, base.framing),
                                               now->parity - std::min(now->parity, base.parity),
                                               now->overrun - std::min(now->overrun, base.overrun),
                                               now->breaks - std::min(now->breaks, base.breaks)};
    }
    if (const auto notes = port_->line_state()) {
        const std::uint64_t base = notes_base_ ? notes_base_->notices : 0;
        health.line.line_state_notices = notes->notices - std::min(notes->notices, base);
        health.line.line_state_errors =
            std::uint8_t(*health.line.line_state_notices > 0 ? notes->errors : 0);
    }
    health.line.latency_timer_ms = port_->latency_timer_ms();
    return health;
}

void serial_link::reset_health()
{
    watch_.reset();
    os_base_ = port_->os_errors();
    notes_base_ = port_->line_state();
}

void serial_link::set_capture(line_capture* capture, std::uint32_t interface)
{
    capture_ = capture;
    capture_interface_ = interface;
}

void serial_link::on_device_failed(port_loss why)
{
    // Closing inside the device's own error handling is unsafe, so the close is queued.
    if (port_->is_open() && !loss_pending_) {
        loss_pending_ = true;
        loss_ = why;
        QMetaObject::invokeMethod(this, &serial_link::drop_lost_port, Qt::QueuedConnection);
    }
}

void serial_link::drop_lost_port()
{
    loss_pending_ = false;
    if (!port_->is_open())
        return;  // the user closed it meanwhile
    shut_port(operation_end::port_lost);
    Q_EMIT closed();
    Q_EMIT port_lost(device_, loss_);
}

}  // namespace lorvane
