#include "dnssd_browser.h"

#include "dnssd_backend.h"

#include <QHostAddress>

#include <algorithm>

namespace lorvane {

dnssd_browser::dnssd_browser(QObject* parent) : QObject(parent) {}

dnssd_browser::~dnssd_browser() = default;

void dnssd_browser::start()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!backend_ && !problem_)
                backend_ = make_dnssd_backend(*this);
        },
        Qt::QueuedConnection);
}

std::vector<dnssd_service> dnssd_browser::services() const
{
    std::vector<dnssd_service> all;
    for (const auto& item : entries_) {
        const entry& e = item.second;
        if (!e.record)
            continue;
        const auto same = std::find_if(all.begin(), all.end(), [&](const dnssd_service& s) {
            return s.name.compare(e.record->name, Qt::CaseInsensitive) == 0 &&
                   s.host.compare(e.record->host, Qt::CaseInsensitive) == 0 &&
                   s.port == e.record->port;
        });
        const bool v4 = QHostAddress(e.record->address).protocol() == QAbstractSocket::IPv4Protocol;
        if (same == all.end())
            all.push_back(*e.record);
        else if (v4 && QHostAddress(same->address).protocol() != QAbstractSocket::IPv4Protocol)
            *same = *e.record;
    }
    std::sort(all.begin(), all.end(), [](const dnssd_service& a, const dnssd_service& b) {
        if (const int c = a.name.compare(b.name, Qt::CaseInsensitive))
            return c < 0;
        if (const int c = a.host.compare(b.host, Qt::CaseInsensitive))
            return c < 0;
        return a.port < b.port;
    });
    return all;
}

bool dnssd_browser::is_settled() const
{
    return all_for_now_ && std::none_of(entries_.begin(), entries_.end(),
                                        [](const auto& e) { return e.second.pending; });
}

bool dnssd_browser::add(const key& service)
{
    const auto it = std::find_if(entries_.begin(), entries_.end(),
                                 [&](const auto& e) { return e.first == service; });
    if (it != entries_.end())
        return true;
    if (entries_.size() >= std::size_t(MAX_DNSSD_SERVICES))
        return false;
    entries_.push_back({service, entry{}});
    check_settled();  // not settled while it is being resolved
    return true;
}

void dnssd_browser::resolved(const key& service, const dnssd_service& record)
{
    for (auto& [k, e] : entries_) {
        if (k == service) {
            e.record = record;
            e.pending = false;
            Q_EMIT changed();
            check_settled();
            return;
        }
    }
}

void dnssd_browser::resolution_failed(const key& service)
{
    for (auto& [k, e] : entries_) {
        if (k == service)
            e.pending = false;
    }
    check_settled();
}

void dnssd_browser::remove(const key& service)
{
    const auto before = entries_.size();
    std::erase_if(entries_, [&](const auto& e) { return e.first == service; });
    if (entries_.size() != before)
        Q_EMIT changed();
    check_settled();
}

void dnssd_browser::all_for_now()
{
    all_for_now_ = true;
    check_settled();
}

void dnssd_browser::fail(const discovery_problem& problem)
{
    if (problem_)
        return;
    problem_ = problem;
    // Reported from the event loop: the backend may be inside its own callback here.
    QMetaObject::invokeMethod(
        this, [this] { Q_EMIT failed(*problem_); }, Qt::QueuedConnection);
}

void dnssd_browser::check_settled()
{
    const bool now = is_settled();
    if (now && !settled_) {
        settled_ = true;
        Q_EMIT settled();
    }
    settled_ = now;
}

std::variant<dnssd_service, lookup_failure> pick_service(const std::vector<dnssd_service>& services,
                                                         const QString& name)
{
    std::vector<dnssd_service> named;
    for (const dnssd_service& s : services) {
        if (s.name.compare(name, Qt::CaseInsensitive) == 0)
            named.push_back(s);
    }
    lookup_failure failure;
    if (named.empty())
        return failure;
    if (named.size() > 1) {
        failure.fault = lookup_fault::ambiguous;
        for (const dnssd_service& s : named)
            failure.hosts << s.host;
        return failure;
    }
    if (!named.front().url()) {
        failure.fault = lookup_fault::unsupported;
        failure.stack = named.front().stack;
        return failure;
    }
    return named.front();
}

dnssd_lookup::dnssd_lookup(const QString& name, int wait_ms, QObject* parent)
    : QObject(parent), name_(name)
{
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { finish(true); });
    connect(&browser_, &dnssd_browser::settled, this, [this] { finish(false); });
    connect(&browser_, &dnssd_browser::failed, this, [this](const discovery_problem& problem) {
        if (done_)
            return;
        done_ = true;
        deadline_.stop();
        lookup_failure failure;
        failure.fault = lookup_fault::discovery;
        failure.problem = problem;
        Q_EMIT lookup_failed(failure);
    });
    deadline_.start(wait_ms);
    browser_.start();
}

// On settling, a name not seen yet may still come: only the deadline ends a lookup that has
// found nothing.
void dnssd_lookup::finish(bool waited)
{
    if (done_)
        return;
    const auto picked = pick_service(browser_.services(), name_);
    const auto* failure = std::get_if<lookup_failure>(&picked);
    if (failure && failure->fault == lookup_fault::not_found && !waited)
        return;
    done_ = true;
    deadline_.stop();
    if (failure)
        Q_EMIT lookup_failed(*failure);
    else
        Q_EMIT found(std::get<dnssd_service>(picked));
}

}  // namespace lorvane
