// SPDX-License-Identifier: MIT
// A throw-away tree shaped like /sys/class/tty and /dev, for tests of the port list.
#pragma once

#include "serial/PortScan.h"

#include <QString>
#include <QTemporaryDir>

class FakeSysfs
{
public:
    FakeSysfs();
    serial::ScanRoots roots() const;

    // An onboard port; `uart` false gives the placeholder ports the kernel always creates.
    void addUart(int number, bool uart = true);
    // A USB adapter with the attributes udev would show, and its by-id link.
    void addUsbSerial(const QString &name, const QString &manufacturer, const QString &product,
                      const QString &serial);
    // Makes /dev/<name> of the fake tree point at a real device (e.g. a pty slave).
    void linkDevice(const QString &name, const QString &target);
    // The adapter pulled out: its sysfs entry, its device node and its by-id link go.
    void removePort(const QString &name);

private:
    void addClassEntry(const QString &name, const QString &deviceDir);
    QTemporaryDir m_dir;
    int m_usbCount = 0;
};
