// SPDX-License-Identifier: MIT
// The port list's side of telvix-sim's ports: the per-user folder, the records, and how the
// leftovers of simulators that have gone are recognised and removed. Live simulators are
// tried with the real program in tst_sim.
#include "FakeSysfs.h"
#include "serial/PortInfo.h"
#include "serial/PortScan.h"
#include "serial/VirtualPorts.h"

#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

void writeText(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

bool exists(const std::string &path)
{
    struct stat st
    { };
    return lstat(path.c_str(), &st) == 0;
}

// A process number that has certainly ended: a child that exited and was reaped.
pid_t endedPid()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    return child;
}

class EnvGuard
{
public:
    explicit EnvGuard(const char *name) : m_name(name)
    {
        if (const char *v = std::getenv(name)) {
            m_had = true;
            m_value = v;
        }
    }
    ~EnvGuard()
    {
        if (m_had)
            setenv(m_name, m_value.c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had = false;
    std::string m_value;
};

} // namespace

class VirtualPortsTest : public QObject
{
    Q_OBJECT

private slots:
    void defaultFolder_data();
    void defaultFolder();
    void privateFolder_data();
    void privateFolder();
    void foreignOwnerRefused();

    void records_data();
    void records();

    void leftovers_data();
    void leftovers();
    void untrustedFolderIsNotTouched();

    void listedLastAndDescribedAsVirtual();
};

void VirtualPortsTest::defaultFolder_data()
{
    QTest::addColumn<QString>("runtime"); // "<unset>": no variable at all
    QTest::addColumn<QString>("folder");

    const QString tmp = QStringLiteral("/tmp/telvix-%1").arg(geteuid());
    QTest::newRow("runtime folder") << "/run/user/1000"
                                    << "/run/user/1000/telvix";
    QTest::newRow("unset") << "<unset>" << tmp;
    QTest::newRow("empty") << "" << tmp;
}

void VirtualPortsTest::defaultFolder()
{
    QFETCH(QString, runtime);
    EnvGuard guard("XDG_RUNTIME_DIR");
    if (runtime == "<unset>")
        unsetenv("XDG_RUNTIME_DIR");
    else
        setenv("XDG_RUNTIME_DIR", runtime.toLocal8Bit().constData(), 1);
    QTEST(QString::fromStdString(serial::defaultVirtualPortDir()), "folder");
    QTEST(QString::fromStdString(serial::ScanRoots {}.virtualDir), "folder");
}

void VirtualPortsTest::privateFolder_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<bool>("create");
    QTest::addColumn<QString>("error"); // part of the message; empty: trusted

    QTest::newRow("made when missing") << "missing" << true << "";
    QTest::newRow("missing, only checking") << "missing" << false << "cannot use";
    QTest::newRow("parent missing") << "no-parent" << true << "cannot create";
    QTest::newRow("private folder") << "0700" << false << "";
    QTest::newRow("group may write") << "0770" << true << "written by other users";
    QTest::newRow("anyone may write") << "0777" << false << "written by other users";
    QTest::newRow("readable by others is fine") << "0755" << false << "";
    QTest::newRow("a link to a private folder") << "link" << true << "symbolic link";
    QTest::newRow("a file") << "file" << true << "not a folder";
}

void VirtualPortsTest::privateFolder()
{
    QFETCH(QString, setup);
    QFETCH(bool, create);
    QFETCH(QString, error);

    QTemporaryDir tmp;
    const std::string base = tmp.path().toStdString();
    std::string dir = base + "/telvix";
    if (setup == "no-parent") {
        dir = base + "/absent/telvix";
    } else if (setup == "link") {
        fs::create_directory(base + "/real");
        chmod((base + "/real").c_str(), 0700);
        fs::create_directory_symlink(base + "/real", dir);
    } else if (setup == "file") {
        writeText(dir, "x");
    } else if (setup != "missing") {
        fs::create_directory(dir);
        chmod(dir.c_str(), mode_t(setup.toInt(nullptr, 8)));
    }
    const std::string message = serial::checkPrivateDir(dir, create);
    if (error.isEmpty()) {
        QVERIFY2(message.empty(), message.c_str());
        struct stat st
        { };
        QCOMPARE(lstat(dir.c_str(), &st), 0);
        QVERIFY(S_ISDIR(st.st_mode));
        if (setup == "missing")
            QCOMPARE(st.st_mode & 0777, mode_t(0700));
    } else {
        QVERIFY2(QString::fromStdString(message).contains(error), message.c_str());
        QVERIFY(message.find(dir) != std::string::npos);
    }
}

void VirtualPortsTest::foreignOwnerRefused()
{
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString() + "/telvix";
    fs::create_directory(dir);
    chmod(dir.c_str(), 0700);
    if (chown(dir.c_str(), 65534, gid_t(-1)) != 0)
        QSKIP("giving a folder to another user needs root");
    const std::string message = serial::checkPrivateDir(dir, true);
    QVERIFY2(message.find("belongs to user 65534") != std::string::npos, message.c_str());
}

void VirtualPortsTest::records_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("pid");
    QTest::addColumn<QString>("behaviour");

    QTest::newRow("as written") << QByteArray("1234 echo\n") << true << 1234 << "echo";
    QTest::newRow("no newline") << QByteArray("99 sink") << true << 99 << "sink";
    QTest::newRow("empty (being written)") << QByteArray() << false << 0 << "";
    QTest::newRow("pid only") << QByteArray("1234\n") << false << 0 << "";
    QTest::newRow("extra word") << QByteArray("1234 echo more\n") << false << 0 << "";
    QTest::newRow("init") << QByteArray("1 echo\n") << false << 0 << "";
    QTest::newRow("negative") << QByteArray("-5 echo\n") << false << 0 << "";
    QTest::newRow("too big") << QByteArray("99999999999 echo\n") << false << 0 << "";
    QTest::newRow("garbage") << QByteArray("\x01\x02 \xff") << false << 0 << "";
}

void VirtualPortsTest::records()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    serial::VirtualPortRecord record;
    QCOMPARE(serial::parseRecord(text.toStdString(), record), valid);
    if (valid) {
        QTEST(int(record.pid), "pid");
        QTEST(QString::fromStdString(record.behaviour), "behaviour");
        QCOMPARE(serial::formatRecord(record),
                 "" + std::to_string(record.pid) + " " + record.behaviour + "\n");
    }
}

void VirtualPortsTest::leftovers_data()
{
    QTest::addColumn<QString>("link"); // "tty": a link to a terminal; "none": no link
    QTest::addColumn<QString>("record"); // "ended", "foreign", "garbage", "none"
    QTest::addColumn<bool>("linkKept");
    QTest::addColumn<bool>("recordKept");

    QTest::newRow("simulator ended") << "tty"
                                     << "ended" << false << false;
    QTest::newRow("pid reused by another program") << "tty"
                                                   << "foreign" << false << false;
    QTest::newRow("link without a record") << "tty"
                                           << "none" << false << false;
    QTest::newRow("record that does not parse is left alone") << "tty"
                                                              << "garbage" << true << true;
    QTest::newRow("record of an ended simulator without its link") << "none"
                                                                   << "ended" << false << false;
    QTest::newRow("record being written (empty)") << "none"
                                                  << "garbage" << false << true;
}

void VirtualPortsTest::leftovers()
{
    QFETCH(QString, link);
    QFETCH(QString, record);

    FakeSysfs sys;
    serial::ScanRoots roots = sys.roots();
    QVERIFY(serial::checkPrivateDir(fs::path(roots.virtualDir).parent_path(), true).empty());
    QVERIFY(serial::checkPrivateDir(roots.virtualDir, true).empty());
    const std::string linkPath = roots.virtualDir + "/sim-echo";
    const std::string recordPath = serial::recordPathFor(linkPath);
    if (link == "tty")
        fs::create_symlink("/dev/null", linkPath); // a character device, as a pty slave is
    if (record == "ended")
        writeText(recordPath, serial::formatRecord({endedPid(), "echo"}));
    else if (record == "foreign") // this test is alive, but it is no telvix-sim
        writeText(recordPath, serial::formatRecord({getpid(), "echo"}));
    else if (record == "garbage")
        writeText(recordPath, "");

    QVERIFY(serial::scanPorts(roots).empty());
    QTEST(exists(linkPath), "linkKept");
    QTEST(exists(recordPath), "recordKept");
}

void VirtualPortsTest::untrustedFolderIsNotTouched()
{
    FakeSysfs sys;
    serial::ScanRoots roots = sys.roots();
    fs::create_directories(roots.virtualDir);
    chmod(roots.virtualDir.c_str(), 0777);
    const std::string linkPath = roots.virtualDir + "/sim-echo";
    fs::create_symlink("/dev/null", linkPath);
    writeText(serial::recordPathFor(linkPath), serial::formatRecord({endedPid(), "echo"}));
    QVERIFY(serial::scanPorts(roots).empty());
    QVERIFY(exists(linkPath));
}

void VirtualPortsTest::listedLastAndDescribedAsVirtual()
{
    std::vector<serial::PortInfo> ports;
    for (const char *name : {"sim-echo-2", "rfcomm0", "sim-at", "ttyS0", "ttyXR0"}) {
        serial::PortInfo p;
        p.name = name;
        p.kind = serial::kindOfName(name, p.number);
        if (p.name.rfind("sim-", 0) == 0) {
            p.kind = serial::PortKind::Virtual;
            p.product = "telvix-sim " + p.name.substr(4, 2);
        }
        ports.push_back(p);
    }
    serial::sortComOrder(ports);
    QStringList names;
    for (const serial::PortInfo &p : ports)
        names << QString::fromStdString(p.name);
    QCOMPARE(names, QStringList({"ttyS0", "rfcomm0", "ttyXR0", "sim-at", "sim-echo-2"}));
    QCOMPARE(QString::fromStdString(ports[3].description()), "虛擬裝置 (telvix-sim at)");
    serial::PortInfo bare;
    bare.kind = serial::PortKind::Virtual;
    QCOMPARE(QString::fromStdString(bare.description()), "虛擬裝置 (telvix-sim)");
}

QTEST_GUILESS_MAIN(VirtualPortsTest)
#include "tst_virtualports.moc"
