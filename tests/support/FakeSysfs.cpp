// SPDX-License-Identifier: MIT
#include "FakeSysfs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {
void writeFile(const QString &path, const QString &text)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(text.toUtf8() + '\n');
}
} // namespace

FakeSysfs::FakeSysfs()
{
    QDir root(m_dir.path());
    root.mkpath(QStringLiteral("sys/class/tty"));
    root.mkpath(QStringLiteral("sys/devices"));
    root.mkpath(QStringLiteral("dev/serial/by-id"));
}

serial::ScanRoots FakeSysfs::roots() const
{
    serial::ScanRoots r;
    r.sysClassTty = (m_dir.path() + QStringLiteral("/sys/class/tty")).toStdString();
    r.devDir = (m_dir.path() + QStringLiteral("/dev")).toStdString();
    r.byIdDir = (m_dir.path() + QStringLiteral("/dev/serial/by-id")).toStdString();
    // Never the user's own runtime folder, where a running telvix-sim would add a port.
    r.virtualDir = (m_dir.path() + QStringLiteral("/run/telvix")).toStdString();
    return r;
}

void FakeSysfs::addClassEntry(const QString &name, const QString &deviceDir)
{
    // sysfs: /sys/class/tty/<name> -> ../../devices/.../tty/<name>, holding `device`.
    const QString ttyDir = deviceDir + QStringLiteral("/tty/") + name;
    QDir().mkpath(ttyDir);
    QFile::link(deviceDir, ttyDir + QStringLiteral("/device"));
    QFile::link(ttyDir, m_dir.path() + QStringLiteral("/sys/class/tty/") + name);
}

void FakeSysfs::addUart(int number, bool uart)
{
    const QString name = QStringLiteral("ttyS%1").arg(number);
    const QString dev = m_dir.path() + QStringLiteral("/sys/devices/platform/serial8250/") + name;
    QDir().mkpath(dev);
    addClassEntry(name, dev);
    writeFile(m_dir.path() + QStringLiteral("/sys/class/tty/") + name + QStringLiteral("/type"),
              uart ? QStringLiteral("4") : QStringLiteral("0"));
}

void FakeSysfs::addUsbSerial(const QString &name, const QString &manufacturer,
                             const QString &product, const QString &serial)
{
    const QString usb = m_dir.path()
            + QStringLiteral("/sys/devices/pci0000:00/0000:00:14.0/usb1/1-%1").arg(++m_usbCount);
    const QString iface = usb + QStringLiteral("/1-%1:1.0").arg(m_usbCount);
    const QString port = iface + u'/' + name;
    QDir().mkpath(port);
    writeFile(usb + QStringLiteral("/idVendor"), QStringLiteral("0403"));
    writeFile(usb + QStringLiteral("/idProduct"), QStringLiteral("6001"));
    writeFile(usb + QStringLiteral("/manufacturer"), manufacturer);
    writeFile(usb + QStringLiteral("/product"), product);
    writeFile(usb + QStringLiteral("/serial"), serial);
    addClassEntry(name, port);
    QFile::link(QStringLiteral("../../") + name,
                m_dir.path()
                        + QStringLiteral("/dev/serial/by-id/usb-%1_%2_%3-if00-port0")
                                  .arg(manufacturer, QString(product).replace(u' ', u'_'), serial));
}

void FakeSysfs::removePort(const QString &name)
{
    QFile::remove(m_dir.path() + QStringLiteral("/sys/class/tty/") + name);
    QFile::remove(m_dir.path() + QStringLiteral("/dev/") + name);
    QDir byId(m_dir.path() + QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link : byId.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
        if (link.isSymLink() && link.symLinkTarget().endsWith(u'/' + name))
            QFile::remove(link.filePath());
    }
}

void FakeSysfs::linkDevice(const QString &name, const QString &target)
{
    QFile::remove(m_dir.path() + QStringLiteral("/dev/") + name);
    QFile::link(target, m_dir.path() + QStringLiteral("/dev/") + name);
}
