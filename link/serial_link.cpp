#include "serial_link.h"

#include "network_port.h"
#include "network_serial_device.h"
#include "port_name.h"

#include <QIODevice>

namespace lorvane {

serial_link::serial_link(QObject* parent)
    : QObject(parent), local_(make_serial_device()),
      network_(std::make_unique<network_serial_device>()), port_(local_.get())
{
    for (serial_device* device : {local_.get(), network_.get()}) {
        connect(device, &serial_device::bytes_received, this, &serial_link::MSComm1_OnComm);
        connect(device, &serial_device::failed, this, &serial_link::on_device_failed);
        connect(device, &serial_device::opened, this, [this] {
            loss_pending_ = false;
            Q_EMIT opened();
        });
        connect(device, &serial_device::open_failed, this,
                [this](const port_failure& failure) { Q_EMIT open_failed(failure); });
    }
}

serial_link::~serial_link() = default;

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
    if (is_network_port_text(text)) {
        const network_port_result url = parse_network_port(text);
        if (!url.ok())
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
    if (auto failure = port_->open(device_))
        return failure;
    loss_pending_ = false;
    return std::nullopt;
}

void serial_link::close()
{
    const bool was_open = port_->is_open();
    port_->close();
    if (was_open)
        Q_EMIT closed();
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
    static_cast<network_serial_device*>(network_.get())->set_options(options);
}

std::optional<server_certificate> serial_link::peer_certificate() const
{
    if (port_ != network_.get() || !port_->is_open())
        return std::nullopt;
    return static_cast<const network_serial_device*>(network_.get())->peer_certificate();
}

void serial_link::send_write_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                                     std::uint8_t value2, std::uint8_t value3)
{
    write_request_ = make_request(FUNC_WRITE, address, record, value1, value2, value3);
    transmit(write_request_);
}

void serial_link::send_read_request(std::uint8_t address, std::uint8_t record, std::uint8_t value1,
                                    std::uint8_t value2, std::uint8_t value3)
{
    read_request_ = make_request(FUNC_READ, address, record, value1, value2, value3);
    transmit(read_request_);
}

void serial_link::resend_last_request()
{
    transmit(last_request_);
}

void serial_link::set_streaming(bool on)
{
    streaming_ = on;
    if (on && port_->is_open())
        port_->discard_input();
}

void serial_link::send_probe(std::uint8_t address)
{
    read_request_ = make_request(FUNC_READ, address, 0, 0, 0, 0);
    transmit(read_request_, keep_input::yes);
}

void serial_link::transmit(const frame& request, keep_input keep)
{
    last_request_ = request;
    if (!port_->is_open())
        return;  // a closed port swallows requests silently; the buttons warn themselves
    // Each exchange starts from an empty receive side. This is the only
    // resynchronisation of the byte stream; the scan keeps what came, late replies too.
    if (keep == keep_input::no)
        port_->discard_input();
    port_->send(request);
    Q_EMIT frame_sent(request);
}

void serial_link::MSComm1_OnComm()
{
    if (streaming_) {
        const QByteArray bytes = port_->input().readAll();
        if (!bytes.isEmpty())
            Q_EMIT bytes_arrived(bytes);
        return;
    }
    const auto outcome = collector_.collect(
        port_->input(), [this](const frame& block, bool ok) { Q_EMIT frame_received(block, ok); });
    if (outcome != reply_collector::outcome::accepted)
        return;
    Q_EMIT reply_received(collector_.reply_buffer());
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
    close();
    Q_EMIT port_lost(device_, loss_);
}

}  // namespace lorvane
