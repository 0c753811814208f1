#include "module_peer.h"

#include <QSocketNotifier>
#include <QTest>

module_peer::module_peer(std::uint8_t address) : module_(address)
{
    notifier_ = new QSocketNotifier(pty_.master_fd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &module_peer::on_readable);
}

module_peer::~module_peer() = default;

QString module_peer::path() const
{
    return QString::fromStdString(pty_.slave_path());
}

void module_peer::send_raw(const std::vector<std::uint8_t>& bytes)
{
    pty_.write_all(bytes);
}

void module_peer::send_frame(const lorvane::frame& f)
{
    send_raw({f.begin(), f.end()});
}

void module_peer::hang_up()
{
    notifier_->setEnabled(false);
    pty_.close_master();
}

bool module_peer::wait_for_requests(std::size_t count, int timeout_ms)
{
    return QTest::qWaitFor([&] { return requests_.size() >= count; }, timeout_ms);
}

void module_peer::on_readable()
{
    const std::vector<std::uint8_t> bytes = pty_.read_some(0);
    raw_.insert(raw_.end(), bytes.begin(), bytes.end());
    for (const auto& request : framer_.feed(bytes)) {
        requests_.push_back(request.bytes);
        if (on_request)
            on_request(request.bytes);
        if (!pty_.is_open())
            return;  // the test hung up inside on_request
        if (!answering)
            continue;
        if (const auto reply = module_.answer(request.bytes)) {
            if (shape_reply)
                send_raw(shape_reply(*reply));
            else
                send_frame(*reply);
        }
    }
}

QString hex(const lorvane::frame& f)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size()))
            .toHex(' ')
            .toUpper());
}
