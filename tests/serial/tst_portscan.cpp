// SPDX-License-Identifier: MIT
// Port discovery against a sysfs tree laid out like the kernel's, plus COM naming and the
// group facts behind the permission hint.
#include "serial/PortInfo.h"
#include "serial/PortScan.h"
#include "serial/UserGroups.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <grp.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using serial::PortInfo;
using serial::PortKind;

Q_DECLARE_METATYPE(serial::PortKind)

namespace {

void writeFile(const fs::path &file, const std::string &content)
{
    fs::create_directories(file.parent_path());
    QFile f(QString::fromStdString(file.string()));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content.data(), qint64(content.size()));
}

void link(const fs::path &at, const std::string &target)
{
    fs::create_directories(at.parent_path());
    fs::create_symlink(target, at);
}

PortInfo named(const std::string &name)
{
    PortInfo p;
    p.name = name;
    p.kind = serial::kindOfName(name, p.number);
    return p;
}

} // namespace

class PortScanTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void scanOrdersPortsForCom();
    void portDetails_data();
    void portDetails();
    void missingRoots_data();
    void missingRoots();

    void kindOfName_data();
    void kindOfName();
    void sortComOrder();
    void portForComText_data();
    void portForComText();
    void description_data();
    void description();

    void groupFile_data();
    void groupFile();
    void groupFactsOfFakeNode_data();
    void groupFactsOfFakeNode();
    void groupFactsOfNode_data();
    void groupFactsOfNode();

private:
    const PortInfo *find(const std::vector<PortInfo> &ports, const std::string &name) const;

    QTemporaryDir m_dir;
    serial::ScanRoots m_roots;
};

// The layout follows a real machine: class/tty entries are links into /sys/devices, each
// port's `device` link points at the device that carries it, and USB attributes sit on the
// USB device a few levels above the tty.
void PortScanTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const fs::path root = m_dir.path().toStdString();
    const fs::path sys = root / "sys";
    const fs::path devices = sys / "devices";
    const fs::path classTty = sys / "class" / "tty";
    const fs::path usb1 = devices / "pci0000:00" / "0000:00:14.0" / "usb1";
    fs::create_directories(classTty);
    fs::create_directories(sys / "bus" / "usb-serial" / "drivers" / "ftdi_sio");
    fs::create_directories(sys / "bus" / "usb" / "drivers" / "cdc_acm");
    fs::create_directories(sys / "bus" / "pnp" / "drivers" / "serial");
    fs::create_directories(sys / "bus" / "serial-base" / "drivers" / "ctrl");
    fs::create_directories(sys / "bus" / "serial-base" / "drivers" / "port");
    fs::create_directories(sys / "bus" / "platform" / "drivers" / "serial8250");
    fs::create_directories(sys / "bus" / "amba" / "drivers" / "uart-pl011");

    // usb-serial adapters: device 1-N, interface 1-N:1.0, port ttyUSBx, class dir tty/ttyUSBx.
    struct Usb
    {
        std::string dev, tty, manufacturer, product, serial;
    };
    const Usb adapters[] = {
            {"1-1", "ttyUSB0", "FTDI", "FT232R USB UART", "A50285BI"},
            {"1-2", "ttyUSB10", "Prolific Technology Inc.", "USB-Serial Controller", ""},
            {"1-3", "ttyUSB2", "", "CP2102 USB to UART Bridge Controller", "0001"},
    };
    for (const Usb &a : adapters) {
        const fs::path dev = usb1 / a.dev;
        writeFile(dev / "idVendor", "0403\n");
        writeFile(dev / "idProduct", "6001\n");
        if (!a.manufacturer.empty())
            writeFile(dev / "manufacturer", a.manufacturer + "\n");
        writeFile(dev / "product", a.product + "\n");
        if (!a.serial.empty())
            writeFile(dev / "serial", a.serial + "\n");
        const fs::path port = dev / (a.dev + ":1.0") / a.tty;
        writeFile(dev / (a.dev + ":1.0") / "bInterfaceClass", "ff\n");
        link(port / "driver", "../../../../../../../bus/usb-serial/drivers/ftdi_sio");
        const fs::path cls = port / "tty" / a.tty;
        link(cls / "device", "../../../" + a.tty);
        writeFile(cls / "dev", "188:0\n");
        link(classTty / a.tty,
             "../../devices/pci0000:00/0000:00:14.0/usb1/" + a.dev + "/" + a.dev + ":1.0/" + a.tty
                     + "/tty/" + a.tty);
    }

    // A CDC modem: the tty hangs directly below the interface.
    {
        const fs::path dev = usb1 / "1-4";
        writeFile(dev / "idVendor", "2341\n");
        writeFile(dev / "manufacturer", "Arduino (www.arduino.cc)\n");
        writeFile(dev / "product", "Arduino Uno\n");
        writeFile(dev / "serial", "75735323\n");
        const fs::path intf = dev / "1-4:1.0";
        link(intf / "driver", "../../../../../../bus/usb/drivers/cdc_acm");
        link(intf / "tty" / "ttyACM0" / "device", "../../../1-4:1.0");
        link(classTty / "ttyACM0",
             "../../devices/pci0000:00/0000:00:14.0/usb1/1-4/1-4:1.0/tty/ttyACM0");
    }

    // The onboard UART answers (type 4 = 16550A); the 8250 driver's spare lines do not.
    // Its tty sits below the serial core's ctrl and port devices, as since Linux 6.5.
    {
        const fs::path pnp = devices / "pnp0" / "00:01";
        const fs::path port = pnp / "00:01:0" / "00:01:0.0";
        link(pnp / "driver", "../../../bus/pnp/drivers/serial");
        link(pnp / "00:01:0" / "driver", "../../../../bus/serial-base/drivers/ctrl");
        link(port / "driver", "../../../../../bus/serial-base/drivers/port");
        link(port / "tty" / "ttyS0" / "device", "../../../00:01:0.0");
        writeFile(port / "tty" / "ttyS0" / "type", "4\n");
        link(classTty / "ttyS0", "../../devices/pnp0/00:01/00:01:0/00:01:0.0/tty/ttyS0");
        const fs::path platform = devices / "platform" / "serial8250";
        link(platform / "driver", "../../../bus/platform/drivers/serial8250");
        for (int i = 1; i <= 4; ++i) {
            const std::string tty = "ttyS" + std::to_string(i);
            link(platform / "tty" / tty / "device", "../../../serial8250");
            if (i <= 3) // ttyS4 has no type file at all
                writeFile(platform / "tty" / tty / "type", "0\n");
            link(classTty / tty, "../../devices/platform/serial8250/tty/" + tty);
        }
    }

    // An ARM board's UART, and the virtual terminals and console with no device behind them.
    {
        const fs::path amba = devices / "platform" / "fe201000.serial";
        link(amba / "driver", "../../../bus/amba/drivers/uart-pl011");
        link(amba / "tty" / "ttyAMA0" / "device", "../../../fe201000.serial");
        link(classTty / "ttyAMA0", "../../devices/platform/fe201000.serial/tty/ttyAMA0");
        for (const char *name : {"tty1", "console", "ptmx"}) {
            writeFile(devices / "virtual" / "tty" / name / "dev", "4:1\n");
            link(classTty / name, std::string("../../devices/virtual/tty/") + name);
        }
    }

    const fs::path byId = root / "dev" / "serial" / "by-id";
    link(byId / "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "../../ttyUSB0");
    link(byId / "usb-Arduino__www.arduino.cc__Arduino_Uno_75735323-if00", "../../ttyACM0");
    // Two links to one port: the alphabetically first wins, whatever the directory order.
    link(byId / "usb-Silicon_Labs_CP2102_0001-if00-port0", "../../ttyUSB2");
    link(byId / "usb-Silicon_Labs_CP2102-alias", "../../ttyUSB2");
    link(byId / "usb-dangling-port0", "../../ttyUSB7");

    m_roots.sysClassTty = classTty.string();
    m_roots.devDir = (root / "dev").string();
    m_roots.byIdDir = byId.string();
    m_roots.virtualDir = (root / "run" / "telvix").string(); // no simulator running there
}

const PortInfo *PortScanTest::find(const std::vector<PortInfo> &ports,
                                   const std::string &name) const
{
    for (const PortInfo &p : ports) {
        if (p.name == name)
            return &p;
    }
    return nullptr;
}

void PortScanTest::scanOrdersPortsForCom()
{
    const auto ports = serial::scanPorts(m_roots);
    QStringList names;
    for (const PortInfo &p : ports)
        names << QString::fromStdString(p.name);
    QCOMPARE(names, QStringList({"ttyS0", "ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyAMA0"}));
    for (const PortInfo &p : ports)
        QCOMPARE(p.devicePath, m_roots.devDir + "/" + p.name);
}

void PortScanTest::portDetails_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("byId");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("description");

    QTest::newRow("FTDI, walked up two levels") << "ttyUSB0"
                                                << "FTDI"
                                                << "FT232R USB UART"
                                                << "A50285BI"
                                                << "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
                                                << "ftdi_sio"
                                                << "FTDI FT232R USB UART (序號 A50285BI)";
    QTest::newRow("no serial attribute") << "ttyUSB10"
                                         << "Prolific Technology Inc."
                                         << "USB-Serial Controller"
                                         << ""
                                         << ""
                                         << "ftdi_sio"
                                         << "Prolific Technology Inc. USB-Serial Controller";
    QTest::newRow("no manufacturer, two by-id links")
            << "ttyUSB2"
            << ""
            << "CP2102 USB to UART Bridge Controller"
            << "0001"
            << "usb-Silicon_Labs_CP2102-alias"
            << "ftdi_sio"
            << "CP2102 USB to UART Bridge Controller (序號 0001)";
    QTest::newRow("CDC modem, one level up")
            << "ttyACM0"
            << "Arduino (www.arduino.cc)"
            << "Arduino Uno"
            << "75735323"
            << "usb-Arduino__www.arduino.cc__Arduino_Uno_75735323-if00"
            << "cdc_acm"
            << "Arduino (www.arduino.cc) Arduino Uno (序號 75735323)";
    QTest::newRow("onboard UART, driver above the serial core") << "ttyS0"
                                                                << ""
                                                                << ""
                                                                << ""
                                                                << ""
                                                                << "serial"
                                                                << "內建串列埠 (UART)";
    QTest::newRow("ARM UART") << "ttyAMA0"
                              << ""
                              << ""
                              << ""
                              << ""
                              << "uart-pl011"
                              << "uart-pl011";
}

void PortScanTest::portDetails()
{
    QFETCH(QString, name);
    const auto ports = serial::scanPorts(m_roots);
    const PortInfo *p = find(ports, name.toStdString());
    QVERIFY(p);
    QTEST(QString::fromStdString(p->manufacturer), "manufacturer");
    QTEST(QString::fromStdString(p->product), "product");
    QTEST(QString::fromStdString(p->serialNumber), "serialNumber");
    QTEST(QString::fromStdString(p->byIdName), "byId");
    QTEST(QString::fromStdString(p->driver), "driver");
    QTEST(QString::fromStdString(p->description()), "description");
}

void PortScanTest::missingRoots_data()
{
    QTest::addColumn<QString>("sysClassTty");
    QTest::addColumn<QString>("byIdDir");
    QTest::addColumn<int>("ports");

    const QString root = m_dir.path();
    QTest::newRow("nothing there") << root + "/none/tty" << root + "/none/by-id" << 0;
    QTest::newRow("no class folder")
            << root + "/none/tty" << QString::fromStdString(m_roots.byIdDir) << 0;
    QTest::newRow("class path is a file")
            << root + "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1/idVendor"
            << QString::fromStdString(m_roots.byIdDir) << 0;
    QTest::newRow("no by-id folder (udev absent)")
            << QString::fromStdString(m_roots.sysClassTty) << root + "/none/by-id" << 6;
}

void PortScanTest::missingRoots()
{
    QFETCH(QString, sysClassTty);
    QFETCH(QString, byIdDir);
    QFETCH(int, ports);

    serial::ScanRoots roots = m_roots;
    roots.sysClassTty = sysClassTty.toStdString();
    roots.byIdDir = byIdDir.toStdString();
    const auto found = serial::scanPorts(roots);
    QCOMPARE(int(found.size()), ports);
    for (const PortInfo &p : found)
        QVERIFY(p.byIdName.empty());
}

void PortScanTest::kindOfName_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<PortKind>("kind");
    QTest::addColumn<int>("number");

    QTest::newRow("ttyS0") << "ttyS0" << PortKind::Uart << 0;
    QTest::newRow("ttyS31") << "ttyS31" << PortKind::Uart << 31;
    QTest::newRow("ttyUSB10") << "ttyUSB10" << PortKind::UsbSerial << 10;
    QTest::newRow("leading zeros") << "ttyUSB007" << PortKind::UsbSerial << 7;
    QTest::newRow("ttyACM3") << "ttyACM3" << PortKind::UsbAcm << 3;
    QTest::newRow("ttyAMA0") << "ttyAMA0" << PortKind::Other << 0;
    QTest::newRow("ttyS prefix of another driver") << "ttySAC2" << PortKind::Other << 2;
    QTest::newRow("rfcomm0") << "rfcomm0" << PortKind::Other << 0;
    QTest::newRow("no number") << "ttyS" << PortKind::Other << -1;
    QTest::newRow("console") << "console" << PortKind::Other << -1;
    QTest::newRow("empty") << "" << PortKind::Other << -1;
    QTest::newRow("number too big") << "ttyUSB99999999999999" << PortKind::UsbSerial << INT_MAX;
}

void PortScanTest::kindOfName()
{
    QFETCH(QString, name);
    int number = 12345;
    QTEST(serial::kindOfName(name.toStdString(), number), "kind");
    QTEST(number, "number");
}

void PortScanTest::sortComOrder()
{
    std::vector<PortInfo> ports;
    for (const char *name : {"rfcomm0", "ttyACM1", "ttyUSB10", "ttyAMA0", "ttyS1", "ttyUSB9",
                             "ttyACM0", "ttyS0", "ttyXR0", "ttyUSB1"})
        ports.push_back(named(name));
    serial::sortComOrder(ports);
    QStringList names;
    for (const PortInfo &p : ports)
        names << QString::fromStdString(p.name);
    QCOMPARE(names,
             QStringList({"ttyS0", "ttyS1", "ttyUSB1", "ttyUSB9", "ttyUSB10", "ttyACM0", "ttyACM1",
                          "rfcomm0", "ttyAMA0", "ttyXR0"}));
}

void PortScanTest::portForComText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("index"); // -1: names no port

    QTest::newRow("1") << "1" << 0;
    QTest::newRow("2") << "2" << 1;
    QTest::newRow("9") << "9" << 8;
    QTest::newRow("12, the last") << "12" << 11;
    QTest::newRow("13, beyond the list") << "13" << -1;
    QTest::newRow("99, beyond the list") << "99" << -1;
    QTest::newRow("empty") << "" << -1;
    QTest::newRow("ab") << "ab" << -1;
    QTest::newRow("1a") << "1a" << -1;
    QTest::newRow("0") << "0" << -1;
    QTest::newRow("01") << "01" << -1;
    QTest::newRow("100") << "100" << -1;
    QTest::newRow("leading space") << " 1" << -1;
    QTest::newRow("trailing space") << "1 " << -1;
    QTest::newRow("sign") << "+1" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("full-width digit") << "１" << -1;
}

void PortScanTest::portForComText()
{
    QFETCH(QString, text);
    QFETCH(int, index);

    std::vector<PortInfo> ports;
    for (int i = 0; i < 12; ++i)
        ports.push_back(named("ttyUSB" + std::to_string(i)));
    const PortInfo *p = serial::portForComText(ports, text.toStdString());
    if (index < 0)
        QCOMPARE(p, nullptr);
    else
        QCOMPARE(p, &ports[size_t(index)]);
    QCOMPARE(serial::portForComText({}, text.toStdString()), nullptr);
}

void PortScanTest::description_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("manufacturer");
    QTest::addColumn<QString>("product");
    QTest::addColumn<QString>("serialNumber");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("description");

    QTest::newRow("maker repeated in product") << "ttyUSB0"
                                               << "FTDI"
                                               << "FTDI USB Serial Device"
                                               << "FT1"
                                               << "ftdi_sio"
                                               << "FTDI USB Serial Device (序號 FT1)";
    QTest::newRow("manufacturer only") << "ttyUSB0"
                                       << "QinHeng"
                                       << ""
                                       << ""
                                       << "ch341"
                                       << "QinHeng";
    QTest::newRow("serial alone says nothing") << "ttyUSB0"
                                               << ""
                                               << ""
                                               << "1234"
                                               << "ch341"
                                               << "ch341";
    QTest::newRow("UART with USB data") << "ttyS0"
                                        << "Acme"
                                        << "Board"
                                        << ""
                                        << "serial"
                                        << "Acme Board";
    QTest::newRow("UART, nothing known") << "ttyS0"
                                         << ""
                                         << ""
                                         << ""
                                         << ""
                                         << "內建串列埠 (UART)";
    QTest::newRow("nothing known") << "ttyXR0"
                                   << ""
                                   << ""
                                   << ""
                                   << ""
                                   << "串列埠";
}

void PortScanTest::description()
{
    QFETCH(QString, name);
    QFETCH(QString, manufacturer);
    QFETCH(QString, product);
    QFETCH(QString, serialNumber);
    QFETCH(QString, driver);

    PortInfo p = named(name.toStdString());
    p.manufacturer = manufacturer.toStdString();
    p.product = product.toStdString();
    p.serialNumber = serialNumber.toStdString();
    p.driver = driver.toStdString();
    QTEST(QString::fromStdString(p.description()), "description");
}

void PortScanTest::groupFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("user");
    QTest::addColumn<int>("primaryGid");
    QTest::addColumn<bool>("listed");

    const QByteArray typical = "root:x:0:\n"
                               "dialout:x:20:alice,bob\n"
                               "dialoutx:x:21:carol\n"
                               "plugdev:x:46:bobby\n"
                               "nogroup:x:65534:\n";
    QTest::newRow("first member") << typical << "dialout"
                                  << "alice" << -1 << true;
    QTest::newRow("last member") << typical << "dialout"
                                 << "bob" << -1 << true;
    QTest::newRow("not a member") << typical << "dialout"
                                  << "carol" << -1 << false;
    QTest::newRow("longer name is someone else") << typical << "plugdev"
                                                 << "bob" << -1 << false;
    QTest::newRow("group name prefix is another group") << typical << "dialout"
                                                        << "carol" << 21 << false;
    QTest::newRow("primary group") << typical << "dialout"
                                   << "dave" << 20 << true;
    QTest::newRow("primary group elsewhere") << typical << "dialout"
                                             << "dave" << 46 << false;
    QTest::newRow("group absent") << typical << "uucp"
                                  << "alice" << -1 << false;
    QTest::newRow("empty member list") << typical << "nogroup"
                                       << "alice" << -1 << false;
    QTest::newRow("empty user name") << typical << "nogroup"
                                     << "" << -1 << false;
    QTest::newRow("CRLF line endings") << QByteArray("dialout:x:20:alice,bob\r\n") << "dialout"
                                       << "bob" << -1 << true;
    QTest::newRow("no newline at end") << QByteArray("dialout:x:20:alice,bob") << "dialout"
                                       << "bob" << -1 << true;
    QTest::newRow("truncated line") << QByteArray("dialout:x\n") << "dialout"
                                    << "alice" << 20 << false;
    QTest::newRow("garbage gid") << QByteArray("dialout:x:2x0:\n") << "dialout"
                                 << "alice" << 20 << false;
    QTest::newRow("empty file") << QByteArray() << "dialout"
                                << "alice" << -1 << false;
}

void PortScanTest::groupFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, group);
    QFETCH(QString, user);
    QFETCH(int, primaryGid);

    const QString path = m_dir.filePath("group");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(content);
    f.close();
    QTEST(serial::groupFileListsUser(path.toStdString(), group.toStdString(), user.toStdString(),
                                     primaryGid),
          "listed");
    QVERIFY(!serial::groupFileListsUser(m_dir.filePath("no-such-file").toStdString(),
                                        group.toStdString(), user.toStdString(), primaryGid));
}

void PortScanTest::groupFactsOfNode_data()
{
    QTest::addColumn<bool>("ownGroup");
    QTest::newRow("node of our own group") << true;
    QTest::newRow("node of a foreign group") << false;
}

void PortScanTest::groupFactsOfNode()
{
    QFETCH(bool, ownGroup);

    const QString node = m_dir.filePath("node");
    QFile f(node);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.close();

    gid_t gid = getegid();
    if (!ownGroup) {
        // A group this process does not carry, to be given to the node by chown.
        std::vector<gid_t> own(size_t(getgroups(0, nullptr)) + 1);
        own.resize(size_t(getgroups(int(own.size()), own.data())));
        own.push_back(getegid());
        gid = 65534;
        while (std::find(own.begin(), own.end(), gid) != own.end())
            --gid;
        if (chown(node.toLocal8Bit().constData(), uid_t(-1), gid) != 0)
            QSKIP("changing a file's group to a foreign one needs root");
    }
    const group *gr = getgrgid(gid);
    const std::string expectedName = gr ? gr->gr_name : std::to_string(gid);

    // The group file lists us in the node's group only in the foreign case, so a true there
    // cannot come from anything but the file.
    const QString groupFile = m_dir.filePath("group-facts");
    const serial::GroupFacts probe = serial::groupFactsFor("/");
    QFile g(groupFile);
    QVERIFY(g.open(QIODevice::WriteOnly | QIODevice::Truncate));
    g.write(QByteArray::fromStdString(expectedName + ":x:" + std::to_string(gid) + ":someone,"
                                      + probe.userName + "\n"));
    g.close();

    const serial::GroupFacts facts =
            serial::groupFactsFor(node.toStdString(), groupFile.toStdString());
    QCOMPARE(facts.deviceGroup, expectedName);
    QCOMPARE(facts.processInGroup, ownGroup);
    QVERIFY(facts.listedInGroupFile);
    QVERIFY(!facts.userName.empty());

    const serial::GroupFacts missing =
            serial::groupFactsFor(m_dir.filePath("absent").toStdString(), groupFile.toStdString());
    QVERIFY(missing.deviceGroup.empty());
    QVERIFY(!missing.processInGroup);
    QVERIFY(!missing.listedInGroupFile);
}

void PortScanTest::groupFactsOfFakeNode_data()
{
    QTest::addColumn<int>("uid");
    QTest::addColumn<int>("gid");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QList<int>>("processGroups");
    QTest::addColumn<QString>("owner");
    QTest::addColumn<QString>("group");
    QTest::addColumn<bool>("inGroup");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<int>("kind");
    using K = PermissionHint::Kind;
    QTest::newRow("root:root 0600") << 0 << 0 << 0600 << QList<int> {1000} << "root"
                                    << "root" << false << false << int(K::AskAdministrator);
    QTest::newRow("root:dialout 0660, listed") << 0 << 20 << 0660 << QList<int> {1000} << "root"
                                               << "dialout" << false << true << int(K::LoginOlder);
    QTest::newRow("root:dialout 0660, in group") << 0 << 20 << 0660 << QList<int> {1000, 20}
                                                 << "root"
                                                 << "dialout" << true << true << int(K::None);
    QTest::newRow("root:plugdev 0660") << 0 << 46 << 0660 << QList<int> {1000} << "root"
                                       << "plugdev" << false << false << int(K::NotInGroup);
    QTest::newRow("tech:disk 0660") << 1001 << 6 << 0660 << QList<int> {1000} << "tech"
                                    << "disk" << false << false << int(K::AskAdministrator);
    QTest::newRow("unnamed ids") << 4242 << 4343 << 0660 << QList<int> {1000} << "4242"
                                 << "4343" << false << false << int(K::NotInGroup);
}

void PortScanTest::groupFactsOfFakeNode()
{
    QFETCH(int, uid);
    QFETCH(int, gid);
    QFETCH(int, mode);
    QFETCH(QList<int>, processGroups);

    const QString groupFile = m_dir.filePath("fake-group");
    const QString passwdFile = m_dir.filePath("fake-passwd");
    QFile g(groupFile);
    QVERIFY(g.open(QIODevice::WriteOnly | QIODevice::Truncate));
    g.write("root:x:0:\ndisk:x:6:\ndialout:x:20:ann\nplugdev:x:46:bob\nann:x:1000:\n");
    g.close();
    QFile p(passwdFile);
    QVERIFY(p.open(QIODevice::WriteOnly | QIODevice::Truncate));
    p.write("root:x:0:0:root:/root:/bin/sh\nann:x:1000:1000::/home/ann:/bin/sh\n"
            "tech:x:1001:1001::/home/tech:/bin/sh\n");
    p.close();

    struct stat node
    { };
    node.st_uid = uid_t(uid);
    node.st_gid = gid_t(gid);
    node.st_mode = S_IFCHR | mode_t(mode);
    serial::Identity ann;
    ann.userName = "ann";
    ann.primaryGroupId = 1000;
    for (int id : processGroups)
        ann.groupIds.push_back(id);
    const serial::GroupFacts facts = serial::groupFactsOf(node, ann, groupFile.toStdString(),
                                                          passwdFile.toStdString());
    QTEST(QString::fromStdString(facts.deviceOwner), "owner");
    QTEST(QString::fromStdString(facts.deviceGroup), "group");
    QTEST(facts.processInGroup, "inGroup");
    QTEST(facts.listedInGroupFile, "listed");
    QCOMPARE(facts.mode, unsigned(mode));

    QTEST(int(PermissionHint::classify(serial::hintFacts(facts))), "kind");
}

QTEST_GUILESS_MAIN(PortScanTest)
#include "tst_portscan.moc"
