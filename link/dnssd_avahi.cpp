// The DNS-SD backend over Avahi's client library. The library's descriptors and timers are
// watched by QSocketNotifier and QTimer on this thread's event loop (an AvahiPoll of our
// own), so nothing here waits but the library's short calls to the local daemon.
#include "dnssd_backend.h"

#include <QSocketNotifier>
#include <QTimer>

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <avahi-common/strlst.h>
#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <map>

// The watch and timeout types Avahi leaves to the provider of its poll interface. Freed from
// inside their own callback, they are deleted once the callback has returned.
struct AvahiWatch
{
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
    bool dispatching = false;
    bool freed = false;
};

struct AvahiTimeout
{
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    QTimer* timer = nullptr;
    bool dispatching = false;
    bool freed = false;
};

namespace lorvane {

namespace {

void dispatch(AvahiWatch* w, AvahiWatchEvent event)
{
    w->happened = event;
    w->dispatching = true;
    w->callback(w, w->fd, event, w->userdata);
    w->dispatching = false;
    w->happened = AvahiWatchEvent(0);
    if (w->freed)
        delete w;
}

void watch_update(AvahiWatch* w, AvahiWatchEvent events)
{
    w->read->setEnabled((events & AVAHI_WATCH_IN) != 0);
    w->write->setEnabled((events & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* watch_new(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback,
                      void* userdata)
{
    auto* w = new AvahiWatch;
    w->fd = fd;
    w->callback = callback;
    w->userdata = userdata;
    w->read = new QSocketNotifier(fd, QSocketNotifier::Read);
    w->write = new QSocketNotifier(fd, QSocketNotifier::Write);
    QObject::connect(w->read, &QSocketNotifier::activated, w->read,
                     [w] { dispatch(w, AVAHI_WATCH_IN); });
    QObject::connect(w->write, &QSocketNotifier::activated, w->write,
                     [w] { dispatch(w, AVAHI_WATCH_OUT); });
    watch_update(w, events);
    return w;
}

AvahiWatchEvent watch_get_events(AvahiWatch* w)
{
    return w->happened;
}

void watch_free(AvahiWatch* w)
{
    // The notifiers may be the ones whose signal is being handled: deleted later.
    for (QSocketNotifier* n : {w->read, w->write}) {
        n->setEnabled(false);
        n->disconnect();
        n->deleteLater();
    }
    if (w->dispatching)
        w->freed = true;
    else
        delete w;
}

void timeout_update(AvahiTimeout* t, const struct timeval* tv)
{
    if (!tv) {
        t->timer->stop();
        return;
    }
    // avahi_age() is how long ago `tv` was, in microseconds (negative: still to come).
    const AvahiUsec age = avahi_age(tv);
    t->timer->start(age >= 0 ? 0 : int((-age + 999) / 1000));
}

AvahiTimeout* timeout_new(const AvahiPoll*, const struct timeval* tv, AvahiTimeoutCallback callback,
                          void* userdata)
{
    auto* t = new AvahiTimeout;
    t->callback = callback;
    t->userdata = userdata;
    t->timer = new QTimer;
    t->timer->setSingleShot(true);
    QObject::connect(t->timer, &QTimer::timeout, t->timer, [t] {
        t->dispatching = true;
        t->callback(t, t->userdata);
        t->dispatching = false;
        if (t->freed)
            delete t;
    });
    timeout_update(t, tv);
    return t;
}

void timeout_free(AvahiTimeout* t)
{
    t->timer->stop();
    t->timer->disconnect();
    t->timer->deleteLater();
    if (t->dispatching)
        t->freed = true;
    else
        delete t;
}

const AvahiPoll QT_POLL = {nullptr,    watch_new,   watch_update,   watch_get_events,
                           watch_free, timeout_new, timeout_update, timeout_free};

class avahi_backend final : public dnssd_backend
{
public:
    explicit avahi_backend(dnssd_browser& browser) : browser_(browser) {}

    ~avahi_backend() override
    {
        for (auto& [k, resolver] : resolvers_)
            avahi_service_resolver_free(resolver);
        if (service_browser_)
            avahi_service_browser_free(service_browser_);
        if (client_)
            avahi_client_free(client_);
    }

    bool start()
    {
        int error = 0;
        client_ = avahi_client_new(&QT_POLL, AvahiClientFlags(0), on_client, this, &error);
        if (!client_) {
            fail(error);
            return false;
        }
        service_browser_ = avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC,
                                                     DNSSD_SERVICE_TYPE, nullptr,
                                                     AvahiLookupFlags(0), on_browse, this);
        if (!service_browser_) {
            fail(avahi_client_errno(client_));
            return false;
        }
        return true;
    }

private:
    void fail(int error)
    {
        const bool no_daemon = error == AVAHI_ERR_NO_DAEMON || error == AVAHI_ERR_DISCONNECTED;
        browser_.fail({no_daemon ? discovery_fault::no_daemon : discovery_fault::failed,
                       QString::fromUtf8(avahi_strerror(error))});
    }

    static void on_client(AvahiClient* client, AvahiClientState state, void* userdata)
    {
        auto* self = static_cast<avahi_backend*>(userdata);
        if (state == AVAHI_CLIENT_FAILURE)
            self->fail(avahi_client_errno(client));
    }

    static void on_browse(AvahiServiceBrowser*, AvahiIfIndex network_interface,
                          AvahiProtocol protocol, AvahiBrowserEvent event, const char* name,
                          const char* type, const char* domain, AvahiLookupResultFlags,
                          void* userdata)
    {
        auto* self = static_cast<avahi_backend*>(userdata);
        switch (event) {
        case AVAHI_BROWSER_NEW: {
            const dnssd_browser::key k{network_interface, protocol == AVAHI_PROTO_INET6,
                                       QString::fromUtf8(name)};
            if (self->resolvers_.contains(k) || !self->browser_.add(k))
                return;
            AvahiServiceResolver* resolver = avahi_service_resolver_new(
                self->client_, network_interface, protocol, name, type, domain, AVAHI_PROTO_UNSPEC,
                AvahiLookupFlags(0), on_resolve, self);
            if (resolver)
                self->resolvers_[k] = resolver;
            else
                self->browser_.resolution_failed(k);
            break;
        }
        case AVAHI_BROWSER_REMOVE: {
            const dnssd_browser::key k{network_interface, protocol == AVAHI_PROTO_INET6,
                                       QString::fromUtf8(name)};
            if (const auto it = self->resolvers_.find(k); it != self->resolvers_.end()) {
                avahi_service_resolver_free(it->second);
                self->resolvers_.erase(it);
            }
            self->browser_.remove(k);
            break;
        }
        case AVAHI_BROWSER_ALL_FOR_NOW:
            self->browser_.all_for_now();
            break;
        case AVAHI_BROWSER_FAILURE:
            self->fail(avahi_client_errno(self->client_));
            break;
        case AVAHI_BROWSER_CACHE_EXHAUSTED:
            break;
        }
    }

    static void on_resolve(AvahiServiceResolver* resolver, AvahiIfIndex network_interface,
                           AvahiProtocol protocol, AvahiResolverEvent event, const char* name,
                           const char*, const char*, const char* host, const AvahiAddress* address,
                           uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                           void* userdata)
    {
        auto* self = static_cast<avahi_backend*>(userdata);
        const dnssd_browser::key k{network_interface, protocol == AVAHI_PROTO_INET6,
                                   QString::fromUtf8(name)};
        const auto it = self->resolvers_.find(k);
        if (it == self->resolvers_.end() || it->second != resolver)
            return;
        self->resolvers_.erase(it);
        if (event != AVAHI_RESOLVER_FOUND || !address) {
            avahi_service_resolver_free(resolver);
            self->browser_.resolution_failed(k);
            return;
        }
        dnssd_service record;
        record.name = k.name;
        record.host = QString::fromUtf8(host);
        char text[AVAHI_ADDRESS_STR_MAX];
        record.address = QString::fromUtf8(avahi_address_snprint(text, sizeof text, address));
        record.port = port;
        record.network_interface = network_interface;
        record.ipv6 = k.ipv6;
        read_txt(txt, record);
        avahi_service_resolver_free(resolver);
        self->browser_.resolved(k, record);
    }

    // Keeps the stack and the USB attributes, each at most MAX_TXT_VALUE bytes.
    static void read_txt(AvahiStringList* txt, dnssd_service& record)
    {
        for (AvahiStringList* item = txt; item; item = avahi_string_list_get_next(item)) {
            char* key = nullptr;
            char* value = nullptr;
            size_t size = 0;
            if (avahi_string_list_get_pair(item, &key, &value, &size) != 0)
                continue;
            const QString name = QString::fromUtf8(key);
            if (value && size <= size_t(MAX_TXT_VALUE)) {
                const QString text = QString::fromUtf8(value, qsizetype(size));
                if (name == QStringLiteral("gensiostack"))
                    record.stack = text;
                else if (is_usb_attribute(name) && record.usb.size() < MAX_USB_ATTRIBUTES)
                    record.usb.insert(name, text);
            }
            avahi_free(key);
            avahi_free(value);
        }
    }

    dnssd_browser& browser_;
    AvahiClient* client_ = nullptr;
    AvahiServiceBrowser* service_browser_ = nullptr;
    std::map<dnssd_browser::key, AvahiServiceResolver*> resolvers_;  // resolutions under way
};

}  // namespace

std::unique_ptr<dnssd_backend> make_dnssd_backend(dnssd_browser& browser)
{
    auto backend = std::make_unique<avahi_backend>(browser);
    if (!backend->start())
        return nullptr;
    return backend;
}

}  // namespace lorvane
