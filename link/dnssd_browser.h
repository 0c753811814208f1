// Finding serial servers on the network by DNS-SD, on this system's own service: Avahi's
// client library on Linux, driven from Qt's event loop (no thread, no waiting call but the
// client library's short calls to the local daemon); dnsapi's DnsServiceBrowse and
// DnsServiceResolve on Windows, looked up at run time. Reports kinds and values; the front
// ends word them.
#pragma once

#include "dnssd_service.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>
#include <tuple>
#include <variant>
#include <vector>

namespace lorvane {

// Why discovery cannot run.
enum class discovery_fault {
    unavailable,  // this build or system has no DNS-SD service to ask (Windows before 1903)
    no_daemon,    // Linux: the Avahi daemon is not running (or the system bus is not there)
    failed,       // the service reported an error; `reason` has its words
};

struct discovery_problem
{
    discovery_fault fault = discovery_fault::failed;
    QString reason;  // the system's own words, may be empty
};

class dnssd_backend;

// Browses _iostream._tcp from start() until destroyed, resolving each service seen.
class dnssd_browser final : public QObject
{
    Q_OBJECT

public:
    explicit dnssd_browser(QObject* parent = nullptr);
    ~dnssd_browser() override;

    // Begins browsing; the outcome comes from the event loop (changed(), settled() or
    // failed()), never from inside this call.
    void start();

    // The services resolved so far, one per name, host and port (the same service seen on
    // several interfaces or over IPv4 and IPv6 once, with its IPv4 address where it has one),
    // sorted by name, then host.
    std::vector<dnssd_service> services() const;
    // Whether the service has said it has nothing more for now and every service seen has
    // been resolved (or its resolution failed).
    bool is_settled() const;
    std::optional<discovery_problem> problem() const { return problem_; }

    // For the backends: what they learn.
    struct key
    {
        int network_interface = -1;
        bool ipv6 = false;
        QString name;
        friend bool operator==(const key&, const key&) = default;
        friend bool operator<(const key& a, const key& b)
        {
            return std::tie(a.network_interface, a.ipv6, a.name) <
                   std::tie(b.network_interface, b.ipv6, b.name);
        }
    };
    // A service was seen; false when MAX_DNSSD_SERVICES are kept already (it is ignored).
    bool add(const key& service);
    void resolved(const key& service, const dnssd_service& record);
    void resolution_failed(const key& service);
    void remove(const key& service);
    void all_for_now();
    void fail(const discovery_problem& problem);

Q_SIGNALS:
    void changed();
    // is_settled() became true.
    void settled();
    void failed(const lorvane::discovery_problem& problem);

private:
    void check_settled();

    struct entry
    {
        std::optional<dnssd_service> record;
        bool pending = true;  // still being resolved
    };
    std::vector<std::pair<key, entry>> entries_;
    std::unique_ptr<dnssd_backend> backend_;
    std::optional<discovery_problem> problem_;
    bool all_for_now_ = false;
    bool settled_ = false;
};

// What finding one service by name came to.
enum class lookup_fault {
    not_found,    // no service of that name within the wait
    ambiguous,    // several servers advertise that name; `hosts` names them
    unsupported,  // its stack names no kind of server this program speaks; `stack`
    discovery,    // discovery cannot run; `problem`
};

struct lookup_failure
{
    lookup_fault fault = lookup_fault::not_found;
    QStringList hosts;
    QString stack;
    discovery_problem problem;
};

// The service named `name` (names compare as DNS names do, ignoring ASCII case), among
// `services`: the one record, or why there is none to open.
std::variant<dnssd_service, lookup_failure> pick_service(const std::vector<dnssd_service>& services,
                                                         const QString& name);

// How long a `dnssd:NAME` port waits for its service to be seen and resolved.
inline constexpr int DNSSD_LOOKUP_MS = 3000;

// Finds one service by name: once the browser has settled with the name among its services,
// or when `wait_ms` has passed, found() or lookup_failed() follows, once.
class dnssd_lookup final : public QObject
{
    Q_OBJECT

public:
    explicit dnssd_lookup(const QString& name, int wait_ms = DNSSD_LOOKUP_MS,
                          QObject* parent = nullptr);

Q_SIGNALS:
    void found(const lorvane::dnssd_service& service);
    void lookup_failed(const lorvane::lookup_failure& failure);

private:
    void finish(bool waited);

    QString name_;
    dnssd_browser browser_;
    QTimer deadline_;
    bool done_ = false;
};

}  // namespace lorvane
