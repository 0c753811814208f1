// The DNS-SD backend over Windows' own: DnsServiceBrowse and DnsServiceResolve from dnsapi
// (Windows 10 1903 and later), looked up at run time so that the program starts where they
// are missing and says that discovery is not available. Windows calls back on threads of its
// own; what it says is copied and handed to the browser's thread through the event loop, and a
// callback that comes after the backend is gone finds no one to tell.
#include "dnssd_backend.h"

#include <QHostAddress>
#include <QTimer>
#include <QtEndian>

#include <windows.h>
// after windows.h, whose types it uses
#include <windns.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace lorvane {

namespace {

// DNS_REQUEST_PENDING (winerror.h), which mingw-w64 lacks: the request goes on, its answer
// comes by the callback.
constexpr DNS_STATUS REQUEST_PENDING = 9506;

using browse_fn = DNS_STATUS(WINAPI*)(PDNS_SERVICE_BROWSE_REQUEST, PDNS_SERVICE_CANCEL);
using resolve_fn = DNS_STATUS(WINAPI*)(PDNS_SERVICE_RESOLVE_REQUEST, PDNS_SERVICE_CANCEL);
using cancel_fn = DNS_STATUS(WINAPI*)(PDNS_SERVICE_CANCEL);
using free_instance_fn = VOID(WINAPI*)(PDNS_SERVICE_INSTANCE);
using free_records_fn = VOID(WINAPI*)(PVOID, DNS_FREE_TYPE);

struct dnsapi
{
    browse_fn browse = nullptr;
    cancel_fn browse_cancel = nullptr;
    resolve_fn resolve = nullptr;
    cancel_fn resolve_cancel = nullptr;
    free_instance_fn free_instance = nullptr;
    free_records_fn free_records = nullptr;
    bool complete() const
    {
        return browse && browse_cancel && resolve && resolve_cancel && free_instance &&
               free_records;
    }
};

template <typename F> F function(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const dnsapi& the_dnsapi()
{
    static const dnsapi api = [] {
        dnsapi found;
        const HMODULE module = LoadLibraryW(L"dnsapi.dll");
        if (!module)
            return found;
        found.browse = function<browse_fn>(module, "DnsServiceBrowse");
        found.browse_cancel = function<cancel_fn>(module, "DnsServiceBrowseCancel");
        found.resolve = function<resolve_fn>(module, "DnsServiceResolve");
        found.resolve_cancel = function<cancel_fn>(module, "DnsServiceResolveCancel");
        found.free_instance = function<free_instance_fn>(module, "DnsServiceFreeInstance");
        found.free_records = function<free_records_fn>(module, "DnsFree");
        return found;
    }();
    return api;
}

class windows_backend;

// The live backends by number: the context Windows hands back is the number, never a pointer.
struct registry
{
    std::mutex mutex;
    std::map<quintptr, windows_backend*> backends;
    quintptr next = 1;
};

registry& the_registry()
{
    static registry r;
    return r;
}

// "line-3._iostream._tcp.local" -> "line-3".
QString instance_name(const QString& full)
{
    const QString suffix = QStringLiteral("._iostream._tcp");
    const qsizetype at = full.indexOf(suffix, 0, Qt::CaseInsensitive);
    return at > 0 ? full.left(at) : QString();
}

class windows_backend final : public dnssd_backend
{
public:
    explicit windows_backend(dnssd_browser& browser) : browser_(browser)
    {
        registry& r = the_registry();
        const std::lock_guard lock(r.mutex);
        id_ = r.next++;
        r.backends[id_] = this;
    }

    ~windows_backend() override
    {
        {
            registry& r = the_registry();
            const std::lock_guard lock(r.mutex);
            r.backends.erase(id_);
        }
        const dnsapi& api = the_dnsapi();
        if (browsing_)
            api.browse_cancel(&browse_cancel_);
        for (auto& [name, pending] : resolving_)
            api.resolve_cancel(&pending.cancel);
    }

    bool start()
    {
        const dnsapi& api = the_dnsapi();
        if (!api.complete()) {
            browser_.fail({discovery_fault::unavailable, {}});
            return false;
        }
        DNS_SERVICE_BROWSE_REQUEST request{};
        request.Version = DNS_QUERY_REQUEST_VERSION1;
        request.InterfaceIndex = 0;
        request.QueryName = L"_iostream._tcp.local";
        request.pBrowseCallback = on_browse;
        request.pQueryContext = reinterpret_cast<void*>(id_);
        const DNS_STATUS status = api.browse(&request, &browse_cancel_);
        if (status != REQUEST_PENDING) {
            browser_.fail({discovery_fault::failed, QStringLiteral("DNS status %1").arg(status)});
            return false;
        }
        browsing_ = true;
        // Windows never says it has nothing more for now; mDNS answers come within a second.
        QTimer::singleShot(1000, &receiver_, [this] { browser_.all_for_now(); });
        return true;
    }

private:
    // Runs `work` on the thread of backend number `context`, if it still lives then: a call
    // queued for its receiver is dropped with the receiver.
    template <typename W> static void hand_over(void* context, W work)
    {
        registry& r = the_registry();
        const std::lock_guard lock(r.mutex);
        const auto it = r.backends.find(reinterpret_cast<quintptr>(context));
        if (it == r.backends.end())
            return;
        windows_backend* self = it->second;
        QMetaObject::invokeMethod(
            &self->receiver_, [self, work = std::move(work)] { work(*self); },
            Qt::QueuedConnection);
    }

    struct pending_resolution
    {
        std::wstring query;
        DNS_SERVICE_CANCEL cancel{};
    };

    static VOID WINAPI on_browse(DWORD status, PVOID context, PDNS_RECORD records)
    {
        // Copied here: the records are freed before the browser's thread sees them.
        std::vector<std::pair<QString, bool>> seen;  // full instance name, gone
        for (auto* r = reinterpret_cast<PDNS_RECORDW>(records); r; r = r->pNext) {
            if (r->wType == DNS_TYPE_PTR && r->Data.PTR.pNameHost)
                seen.emplace_back(QString::fromWCharArray(r->Data.PTR.pNameHost), r->dwTtl == 0);
        }
        if (records)
            the_dnsapi().free_records(records, DnsFreeRecordList);
        hand_over(context, [status, seen](windows_backend& self) { self.browsed(status, seen); });
    }

    static VOID WINAPI on_resolve(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance)
    {
        std::optional<dnssd_service> record;
        QString full;
        if (instance && instance->pszInstanceName) {
            full = QString::fromWCharArray(instance->pszInstanceName);
            if (status == ERROR_SUCCESS) {
                dnssd_service s;
                s.name = instance_name(full);
                s.host = instance->pszHostName ? QString::fromWCharArray(instance->pszHostName)
                                               : QString();
                if (instance->ip4Address)
                    s.address =
                        QHostAddress(qFromBigEndian(quint32(*instance->ip4Address))).toString();
                else if (instance->ip6Address)
                    s.address =
                        QHostAddress(reinterpret_cast<const quint8*>(instance->ip6Address->IP6Byte))
                            .toString();
                s.port = instance->wPort;
                s.network_interface = int(instance->dwInterfaceIndex);
                for (DWORD i = 0; i < instance->dwPropertyCount; ++i) {
                    const QString key = QString::fromWCharArray(instance->keys[i]);
                    const QString value = instance->values[i]
                                              ? QString::fromWCharArray(instance->values[i])
                                              : QString();
                    if (value.toUtf8().size() > MAX_TXT_VALUE)
                        continue;
                    if (key == QStringLiteral("gensiostack"))
                        s.stack = value;
                    else if (is_usb_attribute(key) && s.usb.size() < MAX_USB_ATTRIBUTES)
                        s.usb.insert(key, value);
                }
                record = s;
            }
            the_dnsapi().free_instance(instance);
        }
        hand_over(context, [full, record](windows_backend& self) { self.resolved(full, record); });
    }

    void browsed(DWORD status, const std::vector<std::pair<QString, bool>>& seen)
    {
        if (status != ERROR_SUCCESS) {
            browser_.fail({discovery_fault::failed, QStringLiteral("DNS status %1").arg(status)});
            return;
        }
        for (const auto& [full, gone] : seen) {
            const dnssd_browser::key k{0, false, instance_name(full)};
            if (k.name.isEmpty())
                continue;
            if (gone) {
                if (const auto it = resolving_.find(full); it != resolving_.end()) {
                    the_dnsapi().resolve_cancel(&it->second.cancel);
                    resolving_.erase(it);
                }
                browser_.remove(k);
                continue;
            }
            if (resolving_.contains(full) || !browser_.add(k))
                continue;
            pending_resolution& pending = resolving_[full];
            pending.query = full.toStdWString();
            DNS_SERVICE_RESOLVE_REQUEST request{};
            request.Version = DNS_QUERY_REQUEST_VERSION1;
            request.InterfaceIndex = 0;
            request.QueryName = pending.query.data();
            request.pResolveCompletionCallback = on_resolve;
            request.pQueryContext = reinterpret_cast<void*>(id_);
            if (the_dnsapi().resolve(&request, &pending.cancel) != REQUEST_PENDING) {
                resolving_.erase(full);
                browser_.resolution_failed(k);
            }
        }
    }

    void resolved(const QString& full, const std::optional<dnssd_service>& record)
    {
        resolving_.erase(full);
        const dnssd_browser::key k{0, false, instance_name(full)};
        if (record)
            browser_.resolved(k, *record);
        else
            browser_.resolution_failed(k);
    }

    dnssd_browser& browser_;
    QObject receiver_;
    quintptr id_ = 0;
    DNS_SERVICE_CANCEL browse_cancel_{};
    bool browsing_ = false;
    std::map<QString, pending_resolution> resolving_;  // by full instance name
};

}  // namespace

std::unique_ptr<dnssd_backend> make_dnssd_backend(dnssd_browser& browser)
{
    auto backend = std::make_unique<windows_backend>(browser);
    if (!backend->start())
        return nullptr;
    return backend;
}

}  // namespace lorvane
