// lorvane-bench-startup: the tool's start-up exactly as ui/main.cpp does it, plus a watch for
// the window's first expose. It prints one line on stdout:
//   main_ns=<t> exposed_ns=<t> rss_exposed_kib=<n> rss_settled_kib=<n>
// where the times are CLOCK_MONOTONIC in ns (comparable with the parent's clock), main_ns is
// taken as main() begins, exposed_ns when Qt delivers the first expose event that reports the
// window exposed (what QTest::qWaitForWindowExposed waits for, without its 10 ms polling), and
// the memory figures are VmRSS right then and STARTUP_SETTLE_MS later. Exit status 1 if the
// window was not exposed within 10 s.
#include "bench_support.h"
#include "main_form.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

constexpr int EXPOSE_TIMEOUT_MS = 10'000;

// Notes the first expose of any window of the application; then lets it settle and quits.
class expose_watch : public QObject
{
public:
    std::int64_t exposed_ns = 0;
    long rss_exposed_kib = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (exposed_ns == 0 && event->type() == QEvent::Expose) {
            const auto* window = qobject_cast<QWindow*>(watched);
            if (window != nullptr && window->isExposed()) {
                exposed_ns = lorvane::bench::monotonic_ns();
                rss_exposed_kib = lorvane::bench::resident_kib().value_or(-1);
                QTimer::singleShot(lorvane::bench::STARTUP_SETTLE_MS, qApp, &QApplication::quit);
            }
        }
        return QObject::eventFilter(watched, event);
    }
};

}  // namespace

int main(int argc, char* argv[])
{
    const std::int64_t main_ns = lorvane::bench::monotonic_ns();

    QApplication app(argc, argv);
    lorvane::set_up_application();

    expose_watch watch;
    app.installEventFilter(&watch);
    QTimer::singleShot(EXPOSE_TIMEOUT_MS, &app, &QApplication::quit);

    lorvane::main_form window;
    window.show();
    QApplication::exec();

    if (watch.exposed_ns == 0) {
        std::fprintf(stderr, "lorvane-bench-startup: the window was not exposed within %d ms\n",
                     EXPOSE_TIMEOUT_MS);
        return 1;
    }
    const long rss_settled_kib = lorvane::bench::resident_kib().value_or(-1);
    std::printf("main_ns=%lld exposed_ns=%lld rss_exposed_kib=%ld rss_settled_kib=%ld\n",
                static_cast<long long>(main_ns), static_cast<long long>(watch.exposed_ns),
                watch.rss_exposed_kib, rss_settled_kib);
    return 0;
}
