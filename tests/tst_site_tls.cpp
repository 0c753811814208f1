// Whole sites and the trust files inside TLS: site runs that trust what read trusts (pins,
// authorities, client certificates), the site window's trust box per bus, lorvane-cli trust
// with openssl's fingerprints and many writers at once, and TLS files that are not regular
// files, through a real ser2net and lorvane-cli (see tls_test_support.h).
#include "tls_test_support.h"

using namespace lorvane;
using namespace lorvane::tls_test;

class tst_site_tls : public tls_test_base
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { set_up(); }
    void site_trusts_as_read_does();
    void site_window_asks_per_bus();
    void trust_openssl_fingerprints_and_many_writers();
    void tls_files_that_are_not_regular();
};

void tst_site_tls::site_trusts_as_read_does()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(server.start(peer.path(), QStringLiteral("9600n81"),
                         {tls_telnet(QStringLiteral("server")), tls_telnet(QStringLiteral("named")),
                          tls_raw(QStringLiteral("server"), true)},
                         file(QStringLiteral("auth"))));
    QFile::remove(known_);
    const auto site = [&](const QString& name, const QString& port, const QStringList& more) {
        QTest::qWait(300);  // ser2net frees the device a moment after the last client left
        return run_cli(QStringList{QStringLiteral("site"), QStringLiteral("check"),
                                   site_file(name, {{QStringLiteral("tls"), port, 1}}),
                                   QStringLiteral("--no-scan")} +
                       more);
    };

    // A pinned bus: unknown until its fingerprint is stored with trust, then read as read
    // reads it. The advice names the trust command and no option site does not take.
    const QString pinned = url("rfc2217+tls", server.extra_ports[0]);
    const QString pinned_name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]);
    const cli_result unknown = site(QStringLiteral("pinned"), pinned, {});
    QVERIFY2(unknown.code == 3 && unknown.out.contains("not trusted") &&
                 unknown.out.contains(
                     QStringLiteral("lorvane-cli trust %1 %2").arg(pinned_name, fp_).toUtf8()) &&
                 !unknown.out.contains("--trust"),
             unknown.out.constData());
    QCOMPARE(run_cli({QStringLiteral("trust"), pinned_name, fp_}).code, 0);
    const cli_result read = site(QStringLiteral("pinned"), pinned, {});
    QVERIFY2(read.code == 0 && read.out.contains("tls: module 1") && read.out.contains(": same"),
             qPrintable(said(read)));

    // Vouched for by the CA (--ca) while another pin is stored: CHANGED, nothing sent, as
    // read says it.
    const QString named = url("rfc2217+tls", server.extra_ports[1]);
    const QString named_name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[1]);
    const QString other = QStringLiteral("sha256:") + QString(64, u'b');
    QCOMPARE(run_cli({QStringLiteral("trust"), named_name, other}).code, 0);
    const std::size_t sent = peer.raw().size();
    const QStringList ca{QStringLiteral("--ca"), file(QStringLiteral("ca.crt"))};
    const cli_result changed = site(QStringLiteral("changed"), named, ca);
    QVERIFY2(changed.code == 3 && changed.out.contains("CHANGED; nothing was sent") &&
                 changed.out.contains(other.toUtf8()) && !changed.out.contains("not trusted"),
             qPrintable(said(changed)));
    QCOMPARE(peer.raw().size(), sent);
    const cli_result json =
        site(QStringLiteral("changed"), named, ca + QStringList{QStringLiteral("--json")});
    QVERIFY2(json.out.contains("CHANGED"), json.out.constData());
    QCOMPARE(peer.raw().size(), sent);

    // Client certificates, for every bus inside TLS.
    const QString client = url("tcp+tls", server.extra_ports[2]);
    QCOMPARE(run_cli({QStringLiteral("trust"),
                      QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[2]), fp_})
                 .code,
             0);
    const cli_result without = site(QStringLiteral("client"), client, {});
    QVERIFY2(without.code == 3 && without.out.contains("it wants a client certificate"),
             qPrintable(said(without)));
    const cli_result with =
        site(QStringLiteral("client"), client,
             {QStringLiteral("--client-cert"), file(QStringLiteral("alice.crt")),
              QStringLiteral("--client-key"), file(QStringLiteral("alice.key"))});
    QVERIFY2(with.code == 0 && with.out.contains(": same"), qPrintable(said(with)));

    // --trust is not a site option: the refusal points to the trust command.
    const cli_result refused =
        site(QStringLiteral("pinned"), pinned, {QStringLiteral("--trust"), fp_});
    QVERIFY2(refused.code == 1 &&
                 refused.err.contains(QStringLiteral("lorvane-cli trust HOST:PORT")),
             qPrintable(refused.err));
}

void tst_site_tls::site_window_asks_per_bus()
{
    module_peer behind;  // module 1, behind the TLS server
    module_peer local(2);
    ser2net_process server;
    QVERIFY(server.start(behind.path(), QStringLiteral("9600n81"),
                         {tls_telnet(QStringLiteral("server"))}));
    const QString port = url("rfc2217+tls", server.extra_ports[0]);
    const QString name = QStringLiteral("127.0.0.1:%1").arg(server.extra_ports[0]);
    const QString path =
        site_file(QStringLiteral("window"),
                  {{QStringLiteral("tls"), port, 1}, {QStringLiteral("local"), local.path(), 2}});
    QFile::remove(known_);
    window_fixture w;
    QVERIFY(w.form->open_site(path));
    site_window* window = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<site_window*>(widget))
            window = found;
    }
    QVERIFY(window);
    QTreeWidget* tree = window->findChild<QTreeWidget*>(QStringLiteral("site_tree"));
    const auto status = [&](int bus, int module = -1) {
        const QTreeWidgetItem* row = tree->topLevelItem(bus);
        return module < 0 ? row->text(2) : row->child(module)->text(2);
    };
    const auto box = [] { return qobject_cast<QMessageBox*>(QApplication::activeModalWidget()); };

    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Escape}) {
        QFile::remove(known_);
        QTest::qWait(300);
        window->check();
        // The box of the main window, for the TLS bus; the local bus goes on meanwhile.
        QTRY_VERIFY_WITH_TIMEOUT(box(), 8000);
        QVERIFY2(box()->windowTitle().contains(QStringLiteral("证书")),
                 qPrintable(box()->windowTitle()));
        QVERIFY2(box()->text().contains(fp_) &&
                     box()->text().contains(QStringLiteral("CN=box-ser2net")),
                 qPrintable(box()->text()));
        QTRY_COMPARE_WITH_TIMEOUT(status(1, 0), QStringLiteral("相同"), 20000);
        QVERIFY(box() && window->running());
        QTest::keyClick(box(), key);
        QTRY_VERIFY_WITH_TIMEOUT(!window->running(), 20000);
        QVERIFY(!box());
        if (key == Qt::Key_Return) {
            QCOMPARE(status(0, 0), QStringLiteral("相同"));
            QCOMPARE(fingerprint_text(known_servers::find(known_, name).stored.value()), fp_);
        } else {
            QVERIFY2(tree->topLevelItem(0)->text(3).contains(QStringLiteral("未受信任")),
                     qPrintable(tree->topLevelItem(0)->text(3)));
            QVERIFY(!known_servers::find(known_, name).stored);
        }
        QCOMPARE(status(1, 0), QStringLiteral("相同"));
        QVERIFY2(w.messages.isEmpty(), qPrintable(w.messages.join(u'\n')));
    }

    // Stopped while it asks: the bus ends once, the box goes.
    QFile::remove(known_);
    QTest::qWait(300);
    window->check();
    QTRY_VERIFY_WITH_TIMEOUT(box(), 8000);
    window->stop();
    QTRY_VERIFY_WITH_TIMEOUT(!window->running(), 5000);
    QVERIFY(!box());
    window->close();
}

void tst_site_tls::trust_openssl_fingerprints_and_many_writers()
{
    QFile::remove(known_);
    // As openssl prints it: "sha256 Fingerprint=AB:CD:...", the part after '='.
    QByteArray out;
    QVERIFY(
        openssl({QStringLiteral("x509"), QStringLiteral("-noout"), QStringLiteral("-fingerprint"),
                 QStringLiteral("-sha256"), QStringLiteral("-in"), QStringLiteral("server.crt")},
                &out));
    const QString colons = QString::fromLatin1(out.mid(out.indexOf('=') + 1).trimmed());
    QVERIFY2(colons.size() == 95 && colons.contains(u':'), qPrintable(colons));
    for (const QString& given : {colons, colons.toLower(), QStringLiteral("sha256:") + colons,
                                 QStringLiteral("SHA256:") + colons.toLower()}) {
        const cli_result trusted =
            run_cli({QStringLiteral("trust"), QStringLiteral("gw:4001"), given});
        QVERIFY2(trusted.code == 0 && trusted.err.contains(fp_),
                 qPrintable(given + u' ' + trusted.err));
        QCOMPARE(
            fingerprint_text(known_servers::find(known_, QStringLiteral("gw:4001")).stored.value()),
            fp_);
    }
    QCOMPARE(run_cli({QStringLiteral("trust"), QStringLiteral("gw:4001"), colons.left(94)}).code,
             1);

    // Twelve trust runs at once keep twelve entries.
    QFile::remove(known_);
    std::vector<std::unique_ptr<QProcess>> runs;
    for (int i = 0; i < 12; ++i) {
        auto& run = runs.emplace_back(std::make_unique<QProcess>());
        run->setProgram(qEnvironmentVariable("LORVANE_CLI"));
        run->setArguments(
            {QStringLiteral("trust"), QStringLiteral("gw-%1:4001").arg(i),
             QStringLiteral("sha256:") + QString(64, QLatin1Char("0123456789ab"[i]))});
    }
    for (auto& run : runs)
        run->start();
    for (auto& run : runs) {
        QVERIFY(run->waitForFinished(20000));
        QVERIFY2(run->exitCode() == 0, run->readAllStandardError().constData());
    }
    for (int i = 0; i < 12; ++i)
        QVERIFY2(known_servers::find(known_, QStringLiteral("gw-%1:4001").arg(i)).stored,
                 qPrintable(QString::fromUtf8(read_file(known_))));
    QVERIFY(!QFileInfo::exists(known_ + QStringLiteral(".lock")));
}

void tst_site_tls::tls_files_that_are_not_regular()
{
    module_peer peer;
    ser2net_process server;
    QVERIFY(
        server.start(peer.path(), QStringLiteral("9600n81"),
                     {tls_telnet(QStringLiteral("server")), tls_telnet(QStringLiteral("named"))}));
    const QString port = url("rfc2217+tls", server.extra_ports[0]);
    const QString named = url("rfc2217+tls", server.extra_ports[1]);
    QFile::remove(known_);
    struct role
    {
        QString fifo;
        QStringList arguments;
    };
    const QString key = file(QStringLiteral("fifo.key"));
    const QString ca = file(QStringLiteral("fifo-ca.crt"));
    const std::vector<role> roles{
        {known_, {QStringLiteral("read"), port_of(port)}},
        {known_, {QStringLiteral("trust"), QStringLiteral("gw:4001"), fp_}},
        {ca, {QStringLiteral("read"), port_of(named), QStringLiteral("--ca"), ca}},
        {key,
         {QStringLiteral("read"), port_of(port), QStringLiteral("--trust"), fp_,
          QStringLiteral("--client-cert"), file(QStringLiteral("alice.crt")),
          QStringLiteral("--client-key"), key}},
    };
    for (const role& r : roles) {
        const fifo waiting(r.fifo, 8000);
        QTest::qWait(300);
        qint64 ms = 0;
        const cli_result result = timed_cli(r.arguments, ms);
        QVERIFY2(result.code == 2 && ms < 5000 && result.err.contains(r.fifo) &&
                     result.err.contains(QStringLiteral("not a regular file")),
                 qPrintable(QStringLiteral("%1: %2 after %3 ms: %4")
                                .arg(r.arguments.join(u' '))
                                .arg(result.code)
                                .arg(ms)
                                .arg(result.err)));
    }
    // The site: the bus unreachable with the same words, at once.
    {
        const fifo waiting(known_, 8000);
        QTest::qWait(300);
        qint64 ms = 0;
        const cli_result result =
            timed_cli({QStringLiteral("site"), QStringLiteral("check"),
                       site_file(QStringLiteral("fifo"), {{QStringLiteral("tls"), port, 1}}),
                       QStringLiteral("--no-scan")},
                      ms);
        QVERIFY2(result.code == 3 && ms < 5000 && result.out.contains(known_.toUtf8()) &&
                     result.out.contains("not a regular file"),
                 qPrintable(said(result)));
    }

    // The window stays responsive: its timers keep their time, and one box names the file.
    const fifo waiting(known_, 8000);
    window_fixture w;
    QTimer refuse;  // a trust box, should one come, is refused (it would wait for the user)
    connect(&refuse, &QTimer::timeout, this, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
            box->reject();
    });
    refuse.start(100);
    w.edit(QStringLiteral("chuankou_num"))->setText(port);
    QElapsedTimer clock;
    qint64 longest = 0;
    qint64 last = 0;
    QTimer ticks;
    connect(&ticks, &QTimer::timeout, this, [&] {
        longest = std::max(longest, clock.elapsed() - last);
        last = clock.elapsed();
    });
    QTest::qWait(300);
    clock.start();
    ticks.start(50);
    w.click(QStringLiteral("open_comm"));
    QTRY_COMPARE_WITH_TIMEOUT(w.messages.size(), 1, 5000);
    ticks.stop();
    QVERIFY2(longest < 1000, qPrintable(QString::number(longest)));
    QVERIFY2(w.messages[0].contains(QDir::toNativeSeparators(known_)) &&
                 w.messages[0].contains(QStringLiteral("不是普通文件")),
             qPrintable(w.messages[0]));
    QVERIFY(!w.form->link().is_open());
}

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("LORVANE_SER2NET") ||
        qEnvironmentVariableIsEmpty("LORVANE_OPENSSL")) {
        std::fprintf(stderr,
                     "tst_site_tls: skipped, ser2net or openssl was not found when the build "
                     "was configured\n");
        return 77;
    }
    QApplication app(argc, argv);
    tst_site_tls test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_site_tls.moc"
