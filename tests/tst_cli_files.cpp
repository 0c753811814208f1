// lorvane-cli's files as a user meets them (path in LORVANE_CLI), against lorvane-sim: results
// that reach a file whole or not at all, a device, FIFO or descriptor written into, a full
// disk, a replacement flushed with its folder, and input files taken strictly.
#include "cli_process.h"
#include "module_peer.h"
#include "panel_file.h"
#include "sim_process.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace lorvane;

class tst_cli_files : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void output_integrity();
    void output_on_a_full_filesystem();
    void replaced_whole_and_flushed_with_its_folder();
    void strict_input();

private:
    QTemporaryDir dir_;
};

void tst_cli_files::initTestCase()
{
    QVERIFY2(!qEnvironmentVariable("LORVANE_CLI").isEmpty(), "LORVANE_CLI is not set");
    QVERIFY(dir_.isValid());
}

// Results reach where they are sent whole, or the command fails and says so; what is
// not a regular file is written into, never replaced.
void tst_cli_files::output_integrity()
{
    sim_process sim;
    QVERIFY(sim.start({}));
    const QByteArray text = panel_file_text({});
    const QStringList read{QStringLiteral("read"), port_of(sim.path)};
    const auto output = [&](const QString& path) {
        return read + QStringList{QStringLiteral("--output"), path};
    };

    // A device that takes nothing (a node of our own as root, so the system's stays safe).
    QString full = QStringLiteral("/dev/full");
    if (::geteuid() == 0) {
        full = dir_.filePath(QStringLiteral("full"));
        QVERIFY(::mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)) == 0);
    }
    const cli_result to_device = run_cli(output(full));
    QCOMPARE(to_device.code, 2);
    QVERIFY2(to_device.err.contains(QStringLiteral("No space left on device")),
             qPrintable(to_device.err));
    struct stat status
    {
    };
    QVERIFY(::stat(QFile::encodeName(full).constData(), &status) == 0 && S_ISCHR(status.st_mode));
    const cli_result stdout_full = run_cli(read, QByteArray(), {}, [](QProcess& process) {
        process.setStandardOutputFile(QStringLiteral("/dev/full"));
    });
    QCOMPARE(stdout_full.code, 2);
    QVERIFY2(stdout_full.err.contains(QStringLiteral("standard output: No space left")),
             qPrintable(stdout_full.err));
    QVERIFY(!stdout_full.err.contains(QStringLiteral("records read")));
    const cli_result closed =
        run_cli(read, QByteArray(), {}, through_shell("exec \"$0\" \"$@\" >&-"));
    QCOMPARE(closed.code, 2);
    QVERIFY2(closed.err.contains(QStringLiteral("cannot write the results to standard output")),
             qPrintable(closed.err));

    // A FIFO with a reader: the file goes through it, and it stays a FIFO.
    const QString fifo = dir_.filePath(QStringLiteral("fifo"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0600) == 0);
    const int reader = ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    QCOMPARE(run_cli(output(fifo)).code, 0);
    QByteArray through(text.size() + 1, '\0');
    QCOMPARE(::read(reader, through.data(), std::size_t(through.size())), ssize_t(text.size()));
    ::close(reader);
    QVERIFY(::stat(QFile::encodeName(fifo).constData(), &status) == 0 && S_ISFIFO(status.st_mode));

    // A pipe, as /dev/stdout and as '-'; /dev/stdout on a file opened for appending appends.
    for (const QString& name : {QStringLiteral("/dev/stdout"), QStringLiteral("-")}) {
        const cli_result piped = run_cli(output(name));
        QCOMPARE(piped.code, 0);
        QCOMPARE(piped.out, text);
    }
    const QString log = write_file(dir_, QStringLiteral("log"), "earlier\n");
    QCOMPARE(
        run_cli(output(QStringLiteral("/dev/stdout")), QByteArray(), {},
                [&](QProcess& process) { process.setStandardOutputFile(log, QIODevice::Append); })
            .code,
        0);
    QCOMPARE(read_file(log), "earlier\n" + text);

    // A file we may write in a folder we may not: rewritten in place (as the user nobody when
    // run as root, whom permissions do not stop).
    QTemporaryDir open_dir;
    QVERIFY(QFile::setPermissions(open_dir.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                       QFile::ExeOwner | QFile::ReadOther |
                                                       QFile::ExeOther));
    const QString folder = open_dir.filePath(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    const QString kept = write_file(open_dir, QStringLiteral("locked/panel.json"), "old\n");
    QVERIFY(QFile::setPermissions(kept, QFileDevice::Permissions(0x6666)));
    QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther |
                                              QFile::ExeOther));
    const auto unlock = qScopeGuard([&] {  // lets the folder be removed again
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    QVERIFY(QFile::setPermissions(sim.path, QFileDevice::Permissions(0x6666)));
    const cli_result in_place = run_cli(output(kept), QByteArray(), {}, [](QProcess& process) {
        if (::geteuid() != 0)
            return;
        process.setArguments(QStringList{QStringLiteral("--reuid=nobody"),
                                         QStringLiteral("--regid=nogroup"),
                                         QStringLiteral("--clear-groups"), process.program()} +
                             process.arguments());
        process.setProgram(QStandardPaths::findExecutable(QStringLiteral("setpriv")));
    });
    QVERIFY2(in_place.code == 0, qPrintable(in_place.err));
    QCOMPARE(read_file(kept), text);
}

// A full filesystem: the file it should replace is left whole and the command fails.
void tst_cli_files::output_on_a_full_filesystem()
{
    if (::geteuid() != 0)
        QSKIP("mounts a small tmpfs, which needs root; /dev/full stands in (output_integrity)");
    const QString mount_point = dir_.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(mount_point));
    if (QProcess::execute(QStringLiteral("mount"),
                          {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                           QStringLiteral("size=64k"), QStringLiteral("tmpfs"), mount_point}) != 0)
        QSKIP("this machine does not let a test mount a tmpfs; /dev/full stands in");
    const auto unmount = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("umount"), {QStringLiteral("--lazy"), mount_point});
    });
    const QString kept = mount_point + QStringLiteral("/panel.json");
    QFile old(kept);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old\n") == 4);
    old.close();
    QFile filler(mount_point + QStringLiteral("/filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    while (filler.write(QByteArray(4096, 'x')) == 4096) {
    }
    filler.close();

    sim_process sim;
    QVERIFY(sim.start({}));
    const cli_result result =
        run_cli({QStringLiteral("read"), port_of(sim.path), QStringLiteral("--output"), kept});
    QCOMPARE(result.code, 2);
    QVERIFY2(result.err.contains(QStringLiteral("No space left on device")),
             qPrintable(result.err));
    QVERIFY(!result.err.contains(QStringLiteral("records read")));
    QCOMPARE(read_file(kept), QByteArray("old\n"));
    QCOMPARE(QDir(mount_point).entryList(QDir::Files),
             (QStringList{QStringLiteral("filler"), QStringLiteral("panel.json")}));
}

// --output beside a name of the longest length a folder takes (255 bytes): the temporary
// file has a short name of its own; after the rename the folder is flushed to disk, so a
// power cut can neither undo the rename nor bring the temporary back.
void tst_cli_files::replaced_whole_and_flushed_with_its_folder()
{
    sim_process sim;
    QVERIFY(sim.start({}));
    QTemporaryDir folder;
    const QString name = folder.filePath(QString(250, u'p') + QStringLiteral(".json"));
    const QByteArray text = panel_file_text({});
    QVERIFY(write_file(folder, QFileInfo(name).fileName(), "old\n") == name);
    const QStringList read{QStringLiteral("read"), port_of(sim.path), QStringLiteral("--output"),
                           name};
    const cli_result saved = run_cli(read);
    QVERIFY2(saved.code == 0, qPrintable(saved.err));
    QCOMPARE(read_file(name), text);

    const QString strace = QStandardPaths::findExecutable(QStringLiteral("strace"));
    if (strace.isEmpty())
        QSKIP("strace is not installed (Debian package strace; scripts/setup.sh --with-tests)");
    const QString log = dir_.filePath(QStringLiteral("strace.log"));
    const cli_result traced = run_cli(read, QByteArray(), {}, [&](QProcess& process) {
        process.setArguments(QStringList{QStringLiteral("-f"), QStringLiteral("-o"), log,
                                         QStringLiteral("-e"),
                                         QStringLiteral("trace=openat,fsync,rename,renameat,"
                                                        "renameat2"),
                                         process.program()} +
                             process.arguments());
        process.setProgram(strace);
    });
    if (traced.code != 0 && traced.err.contains(QStringLiteral("ptrace")))
        QSKIP("this machine does not let strace trace a program");
    QVERIFY2(traced.code == 0, qPrintable(traced.err));
    // The temporary's descriptor is flushed, the temporary renamed over the file, then the
    // folder opened as a folder and flushed.
    const QString quoted_folder = u'"' + folder.path() + u'"';
    static const QRegularExpression temporary(QStringLiteral(R"(/\.lv[A-Za-z0-9]{6}")"));
    QStringList steps;
    QString folder_fd;
    QString temporary_fd;
    for (const QString& line : QString::fromUtf8(read_file(log)).split(u'\n')) {
        const QRegularExpressionMatch opened =
            QRegularExpression(
                QStringLiteral(R"(openat\(AT_FDCWD, (".*"), ([A-Z_|]+).*\) = (\d+))"))
                .match(line);
        if (opened.hasMatch() && opened.captured(1) == quoted_folder &&
            opened.captured(2).contains(QStringLiteral("O_DIRECTORY"))) {
            folder_fd = opened.captured(3);
            steps << QStringLiteral("open folder");
        } else if (opened.hasMatch() && temporary.match(opened.captured(1)).hasMatch()) {
            temporary_fd = opened.captured(3);
            steps << QStringLiteral("create temporary");
        } else if (line.contains(QStringLiteral("rename")) && temporary.match(line).hasMatch() &&
                   line.contains(u'"' + name + QStringLiteral("\"")) &&
                   line.endsWith(QStringLiteral("= 0"))) {
            steps << QStringLiteral("rename");
        } else if (line.contains(QStringLiteral("fsync(")) && !temporary_fd.isEmpty() &&
                   line.contains(QStringLiteral("fsync(%1)").arg(temporary_fd))) {
            steps << QStringLiteral("flush temporary");
            temporary_fd.clear();
        } else if (line.contains(QStringLiteral("fsync(")) && !folder_fd.isEmpty() &&
                   line.contains(QStringLiteral("fsync(%1)").arg(folder_fd))) {
            steps << QStringLiteral("flush folder");
            folder_fd.clear();
        }
    }
    QCOMPARE(steps, (QStringList{QStringLiteral("create temporary"),
                                 QStringLiteral("flush temporary"), QStringLiteral("rename"),
                                 QStringLiteral("open folder"), QStringLiteral("flush folder")}));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{QFileInfo(name).fileName()});
}

// Files are taken exactly as written and as the system names them, or refused with
// exit 2 and nothing sent.
void tst_cli_files::strict_input()
{
    module_peer peer;
    const QStringList write{QStringLiteral("write"), port_of(peer.path())};
    QByteArray twice = panel_file_text({});
    twice.replace(0, 1, "{\"module_address\": 9,");
    QByteArray fraction = panel_file_text({});
    fraction.replace("\"refresh_period\": 50", "\"refresh_period\": 49.999999999999999999");
    const struct
    {
        QString file;
        QString said;
    } refused[] = {
        {write_file(dir_, QStringLiteral("twice.json"), twice),
         QStringLiteral("module_address is given twice")},
        {write_file(dir_, QStringLiteral("fraction.json"), fraction),
         QStringLiteral("refresh_period must be a whole number from 0 to 255, not "
                        "49.999999999999999999")},
        {QStringLiteral("/dev/zero"), QStringLiteral("larger than 1024 KiB")},
    };
    for (const auto& [file, said] : refused) {
        const cli_result result = run_cli(write + QStringList{file});
        QCOMPARE(result.code, 2);
        QVERIFY2(result.err.contains(said), qPrintable(result.err));
    }
    const cli_result from_folder =
        run_cli(write + QStringList{QStringLiteral("-")}, std::nullopt, {},
                [&](QProcess& process) { process.setStandardInputFile(dir_.path()); });
    QCOMPARE(from_folder.code, 2);
    QVERIFY2(from_folder.err.contains(QStringLiteral("cannot read standard input: Is a directory")),
             qPrintable(from_folder.err));
    QTest::qWait(50);
    QVERIFY(peer.raw().empty());

    // A name that is not UTF-8 (byte 0xFF) opens, and messages show the byte escaped.
    const QByteArray name = QFile::encodeName(dir_.path()) + "/n\xff.json";
    const QByteArray text = panel_file_text({});
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0 && ::write(fd, text.constData(), std::size_t(text.size())) == text.size());
    ::close(fd);
    const auto remove = qScopeGuard([&] { ::unlink(name.constData()); });  // Qt cannot name it
    const cli_result odd_name =
        run_cli(QStringList{dir_.path()} + write, QByteArray(), {},
                through_shell("d=$1; shift; exec \"$0\" \"$@\" \"$d/n$(printf '\\377').json\""));
    QVERIFY2(odd_name.code == 0, qPrintable(odd_name.err));
    QVERIFY2(odd_name.err.contains(QStringLiteral("/n\\xff.json)")), qPrintable(odd_name.err));
    QCOMPARE(peer.requests().size(), std::size_t{17});
}

QTEST_GUILESS_MAIN(tst_cli_files)
#include "tst_cli_files.moc"
