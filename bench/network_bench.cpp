// lorvane-bench-network: a paced write chain at 9600 baud through a network serial server,
// beside a minimal client through the same server. lorvane-sim (--pace-baud 9600) sits on a
// pseudo-terminal behind ser2net, which serves it raw and with RFC 2217; for each mode the
// real lorvane-cli writes all 17 records (timed from its own --trace, first request out to
// last reply in) and, in turn with it, a minimal client does the same exchanges over a plain
// socket (TCP_NODELAY, blocking send and poll). ser2net's own character delay before it
// forwards a reply is part of both, which is why the minimal client is the floor here rather
// than the line limit. Then the same chains inside TLS (ser2net's ssl accepters, with a
// certificate made here by openssl and trusted with --trust) beside plain ones, both by
// lorvane-cli, in turn. Prints Markdown tables on stdout.
//
//   lorvane-bench-network [--runs N]        (default 7 runs of each client in each mode)
//
// Needs ser2net and openssl on the PATH (or in LORVANE_SER2NET, LORVANE_OPENSSL);
// lorvane-cli and lorvane-sim are taken from beside this program.
#include "bench_support.h"
#include "cli_trace.h"
#include "frame.h"
#include "panel_config.h"
#include "panel_file.h"
#include "ser2net_process.h"
#include "telnet_codec.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace lorvane;

namespace {

constexpr double LINE_LIMIT_MS = 17 * 16 * 10 * 1000.0 / 9600;  // both frames of 17 exchanges
constexpr double TARGET_RATIO = 1.05;

double cli_chain_ms(const QString& cli, const QString& url, const QString& file,
                    const QString& trust = {})
{
    QStringList arguments{QStringLiteral("write"), QStringLiteral("--port=") + url,
                          QStringLiteral("--trace"), file};
    if (!trust.isEmpty())
        arguments << QStringLiteral("--trust") << trust;
    QProcess process;
    process.start(cli, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error("lorvane-cli write through " + url.toStdString() +
                                 " failed: " + process.readAllStandardError().toStdString());
    return lorvane::bench::traced_transfer_ms(QString::fromUtf8(process.readAllStandardError()));
}

// The minimal client: one blocking socket, each request sent whole, poll() until the reply's
// 8 bytes are in. With Telnet it doubles 0xFF and skips the server's commands, nothing more.
double minimal_chain_ms(quint16 port, bool telnet, const panel_config& config)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("the minimal client cannot connect");
    telnet::decoder decoder;
    decoder.set_binary(true);
    std::vector<telnet::event> ignored;
    QByteArray line;
    char buffer[512];
    // Whatever the server says on connecting (its negotiation) is read and dropped first.
    const auto receive = [&](int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) <= 0)
            return false;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            throw std::runtime_error("the server closed the minimal client's connection");
        const QByteArrayView bytes(buffer, static_cast<qsizetype>(n));
        if (telnet)
            decoder.feed(bytes, line, ignored);
        else
            line += bytes;
        return true;
    };
    while (receive(300)) {
    }
    line.clear();

    const std::int64_t start = bench::monotonic_ns();
    for (record_no record = 0; record <= LAST_RECORD; ++record) {
        const record_values v = values_of_record(config, record);
        const frame request = make_request(FUNC_WRITE, config.module_address, std::uint8_t(record),
                                           v.value1, v.value2, v.value3);
        QByteArray bytes(reinterpret_cast<const char*>(request.data()), qsizetype(FRAME_SIZE));
        if (telnet)
            bytes.replace("\xff", QByteArray("\xff\xff", 2));
        if (::send(fd, bytes.constData(), std::size_t(bytes.size()), 0) != bytes.size())
            throw std::runtime_error("the minimal client cannot send");
        while (line.size() < qsizetype(FRAME_SIZE)) {
            if (!receive(2000))
                throw std::runtime_error("no reply reached the minimal client");
        }
        line.remove(0, qsizetype(FRAME_SIZE));
    }
    const double ms = double(bench::monotonic_ns() - start) / double(bench::NS_PER_MS);
    ::close(fd);
    return ms;
}

// Makes a self-signed certificate and key in `dir` (server.crt, server.key) with openssl and
// returns its fingerprint, "sha256:" and the hex digits.
QString make_certificate(const QString& dir)
{
    const QString openssl = qEnvironmentVariableIsEmpty("LORVANE_OPENSSL")
                                ? QStandardPaths::findExecutable(QStringLiteral("openssl"))
                                : qEnvironmentVariable("LORVANE_OPENSSL");
    const auto run = [&](const QStringList& arguments) {
        QProcess process;
        process.setWorkingDirectory(dir);
        process.start(openssl, arguments);
        if (!process.waitForFinished(30000) || process.exitCode() != 0)
            throw std::runtime_error("openssl failed (is it installed?)");
        return process.readAllStandardOutput();
    };
    run({QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
         QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
         QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
         QStringLiteral("-keyout"), QStringLiteral("server.key"), QStringLiteral("-out"),
         QStringLiteral("server.crt"), QStringLiteral("-days"), QStringLiteral("365"),
         QStringLiteral("-subj"), QStringLiteral("/CN=bench-ser2net")});
    const QByteArray out =
        run({QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
             QStringLiteral("-sha256"), QStringLiteral("-in"), QStringLiteral("server.crt")});
    return QStringLiteral("sha256:") +
           QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed()).remove(u':');
}

std::string figure(const bench::summary& s)
{
    return bench::fixed(s.median, 1) + " ms (min " + bench::fixed(s.min, 1) + ", max " +
           bench::fixed(s.max, 1) + ")";
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 7;
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QStringLiteral("--runs") && i + 1 < args.size()) {
            runs = args[++i].toInt();
        } else {
            std::fprintf(stderr, "usage: lorvane-bench-network [--runs N]\n");
            return 2;
        }
    }
    if (runs < 1)
        runs = 1;
    const QString here = QCoreApplication::applicationDirPath();
    const QString cli = here + QStringLiteral("/lorvane-cli");
    const QString sim = here + QStringLiteral("/lorvane-sim");
    if (qEnvironmentVariableIsEmpty("LORVANE_SER2NET"))
        qputenv("LORVANE_SER2NET",
                QStandardPaths::findExecutable(
                    QStringLiteral("ser2net"),
                    {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")})
                    .toLocal8Bit());

    try {
        QProcess module;
        module.setProgram(sim);
        module.setArguments({QStringLiteral("--pace-baud"), QStringLiteral("9600")});
        module.setStandardErrorFile(QProcess::nullDevice());
        module.start();
        if (!module.waitForStarted(5000) || !module.waitForReadyRead(5000))
            throw std::runtime_error("cannot start lorvane-sim");
        const QString pts = QString::fromUtf8(module.readLine()).trimmed();
        QTemporaryDir dir;
        const QString trust = make_certificate(dir.path());
        const QString ssl =
            QStringLiteral("ssl(key=%1/server.key,cert=%1/server.crt),tcp,127.0.0.1,%2")
                .arg(dir.path(), QStringLiteral("%1"));
        ser2net_process server;
        if (!server.start(pts, QStringLiteral("9600n81"),
                          {ssl, QStringLiteral("telnet(rfc2217),") + ssl}))
            throw std::runtime_error("cannot start ser2net (is it installed?)");

        const panel_config config;  // the module's own defaults, written back
        const QString file = dir.filePath(QStringLiteral("panel.json"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(panel_file_text(config)) <= 0)
            throw std::runtime_error("cannot write the configuration file");
        out.close();

        std::printf("| Write chain at 9600 baud through ser2net (median of %d) | lorvane-cli | "
                    "minimal client | ratio | target | met |\n|---|---|---|---|---|---|\n",
                    runs);
        for (const bool telnet : {false, true}) {
            const QString url = telnet ? server.telnet_url() : server.raw_url();
            const quint16 port = telnet ? server.telnet_port : server.raw_port;
            std::vector<double> tool;
            std::vector<double> floor;
            cli_chain_ms(cli, url, file);  // warm-up, not counted
            for (int i = 0; i < runs; ++i) {
                std::fprintf(stderr, "network bench: %s run %d/%d\n", telnet ? "rfc2217" : "raw",
                             i + 1, runs);
                tool.push_back(cli_chain_ms(cli, url, file));
                QThread::msleep(100);  // ser2net frees the device a moment after a client left
                floor.push_back(minimal_chain_ms(port, telnet, config));
                QThread::msleep(100);
            }
            const bench::summary t = bench::summarise(tool);
            const bench::summary f = bench::summarise(floor);
            const double ratio = *t.median / *f.median;
            std::printf("| %s | %s | %s | %.3f | <= %.2f | %s |\n",
                        telnet ? "rfc2217:// (Telnet)" : "tcp:// (raw)", figure(t).c_str(),
                        figure(f).c_str(), ratio, TARGET_RATIO,
                        ratio <= TARGET_RATIO ? "yes" : "no");
        }
        std::printf("\nLine limit: 17 x 16 bytes x 10 bits / 9600 baud = %.1f ms; the minimal "
                    "client's excess over it is ser2net's own character delay and the two "
                    "hops through it.\n",
                    LINE_LIMIT_MS);

        // Inside TLS and plain, by lorvane-cli both, through the same ser2net and module.
        std::printf("\n| Write chain at 9600 baud by lorvane-cli (median of %d) | inside TLS | "
                    "plain | ratio | target | met |\n|---|---|---|---|---|---|\n",
                    runs);
        for (const bool telnet : {false, true}) {
            const QString tls = QStringLiteral("%1+tls://127.0.0.1:%2")
                                    .arg(telnet ? QStringLiteral("rfc2217") : QStringLiteral("tcp"))
                                    .arg(server.extra_ports[telnet ? 1 : 0]);
            const QString plain = telnet ? server.telnet_url() : server.raw_url();
            std::vector<double> inside;
            std::vector<double> outside;
            cli_chain_ms(cli, tls, file, trust);  // warm-up, not counted
            QThread::msleep(100);
            for (int i = 0; i < runs; ++i) {
                std::fprintf(stderr, "network bench: %s inside TLS, run %d/%d\n",
                             telnet ? "rfc2217" : "raw", i + 1, runs);
                inside.push_back(cli_chain_ms(cli, tls, file, trust));
                QThread::msleep(100);
                outside.push_back(cli_chain_ms(cli, plain, file));
                QThread::msleep(100);
            }
            const bench::summary t = bench::summarise(inside);
            const bench::summary p = bench::summarise(outside);
            const double ratio = *t.median / *p.median;
            std::printf("| %s vs %s | %s | %s | %.3f | <= %.2f | %s |\n",
                        telnet ? "rfc2217+tls://" : "tcp+tls://", telnet ? "rfc2217://" : "tcp://",
                        figure(t).c_str(), figure(p).c_str(), ratio, TARGET_RATIO,
                        ratio <= TARGET_RATIO ? "yes" : "no");
        }
        module.terminate();
        module.waitForFinished(5000);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "lorvane-bench-network: %s\n", e.what());
        return 1;
    }
    return 0;
}
