// SPDX-License-Identifier: MIT
// What the port queues comes in time order, whoever queues it: a break sent from the window's
// side while the reader takes the bytes that arrive during it, on a real pseudo-terminal that
// the fakelines interposer gives the break of a UART.
#include "FakeLines.h"
#include "Pty.h"

#include "traffic/LineEvents.h"
#include "serial/SerialPort.h"

#include <QTest>

#include <optional>
#include <thread>

class TestPortOrder : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void breakAmongArrivingBytes_data();
    void breakAmongArrivingBytes();
};

void TestPortOrder::initTestCase()
{
    const FakeLines probe;
    if (!FakeLines::active())
        QSKIP("fakelines interposer not preloaded: run this test through ctest");
}

void TestPortOrder::breakAmongArrivingBytes_data()
{
    QTest::addColumn<bool>("endRefused"); // the driver fails to take the line out of break
    QTest::newRow("sent") << false;
    QTest::newRow("refused at its end") << true;
}

void TestPortOrder::breakAmongArrivingBytes()
{
    QFETCH(bool, endRefused);
    FakeLines lines;
    QVERIFY(lines.isValid());
    Pty pty;
    SerialPort::Opened opened =
            SerialPort::open(pty.slavePath().toStdString(),
                             {9600, serial::Parity::None, 8, 0, serial::FlowControl::Keep, false});
    QVERIFY(opened.port);
    SerialPort &port = *opened.port;
    port.startReading();

    // The device goes on sending while the line is held in break.
    std::thread device([&] {
        for (int i = 0; i < 5; ++i) {
            QTest::qSleep(40);
            pty.write(QByteArray(1, char('0' + i)));
        }
        if (endRefused)
            lines.setRefused(FakeLines::Break, EIO);
    });
    const bool sent = port.sendBreak(600);
    device.join();
    QCOMPARE(sent, !endRefused);

    std::vector<TrafficRecord> records;
    QByteArray bytes;
    QVERIFY(QTest::qWaitFor(
            [&] {
                for (TrafficRecord &r : port.take()) {
                    if (r.kind == TrafficKind::Received)
                        bytes += r.bytes;
                    records.push_back(std::move(r));
                }
                return bytes.size() >= 5;
            },
            5000));
    QCOMPARE(bytes, QByteArray("01234"));
    int breaks = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        if (i > 0)
            QVERIFY2(records[i].timeUs >= records[i - 1].timeUs, qPrintable(QString::number(i)));
        if (const std::optional<int> ms = LineEvents::breakDurationOf(records[i])) {
            QCOMPARE(*ms, 600);
            ++breaks;
        }
    }
    // A break the driver did not see through is not claimed.
    QCOMPARE(breaks, endRefused ? 0 : 1);
    lines.setRefused(0);
}

QTEST_MAIN(TestPortOrder)
#include "tst_portorder.moc"
