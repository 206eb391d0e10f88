// SPDX-License-Identifier: MIT
// `telvix --run` as a test station runs it: the program itself, with no display in its
// environment, against telvix-sim's AT modem: the exit status of each ending, the script's
// output, the log it writes, and Ctrl+C.
#include "SimDevice.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <csignal>
#include <memory>

namespace {

const char *const Modem = "send('AT\\r')\n"
                          "assert(expect('OK\\r\\n', 2000), 'no OK')\n"
                          "send('ATI\\r')\n"
                          "local _, name = expect_match('telvix%-sim (%a+) modem', 2000)\n"
                          "print('modem:', name, arg[1])\n"
                          "log('identified ' .. name)\n"
                          "if name == 'virtual' then pass('identified') end\n"
                          "fail('wrong modem')\n";

} // namespace

class TestScriptRun : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void exitStatus_data();
    void exitStatus();
    void ctrlCEndsItAtOnce();

private:
    QProcess *telvix(const QByteArray &script, const QStringList &options);
    QTemporaryDir m_dir;
    std::unique_ptr<SimDevice> m_sim;
    QString m_port;
};

void TestScriptRun::initTestCase()
{
    m_sim = std::make_unique<SimDevice>(QStringLiteral("at"));
    m_port = m_sim->link();
    QVERIFY(m_sim->isUp());
}

void TestScriptRun::cleanupTestCase() { m_sim.reset(); }

QProcess *TestScriptRun::telvix(const QByteArray &script, const QStringList &options)
{
    const QString path = m_dir.filePath(QStringLiteral("script.lua"));
    QFile file(path);
    file.open(QIODevice::WriteOnly | QIODevice::Truncate);
    file.write(script);
    file.close();
    auto *p = new QProcess(this);
    // A test station's shell: no display of any kind.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    p->setProcessEnvironment(env);
    QStringList args {QStringLiteral("--run"), path};
    for (const QString &o : options)
        args << QString(o).replace(QStringLiteral("PORT"), m_port);
    p->start(QStringLiteral(TELVIX_PATH), args);
    return p;
}

void TestScriptRun::exitStatus_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("err");
    const QStringList port {QStringLiteral("--port"), QStringLiteral("PORT")};
    QTest::newRow("pass") << QByteArray(Modem) << port + QStringList {"--", "station-3"} << 0
                          << "modem:\tvirtual\tstation-3\n"
                          << "通過 PASS identified";
    QTest::newRow("fail") << QByteArray("fail('沒有回應')") << port << 1 << QString()
                          << "失敗 FAIL 沒有回應";
    QTest::newRow("a script error")
            << QByteArray("print(1)\nlocal x = nil .. 1") << port << 2 << "1\n"
            << "script.lua:2: attempt to concatenate";
    QTest::newRow("a port that is not there")
            << QByteArray("pass()") << QStringList {"--port", "/dev/telvix-none"} << 3 << QString()
            << "/dev/telvix-none 埠,無法開啟";
    QTest::newRow("the time-out") << QByteArray("while true do end")
                                  << port + QStringList {"--timeout", "1"} << 4 << QString()
                                  << "逾時 timed out after 1 s";
    QTest::newRow("a bad option") << QByteArray("pass()") << port + QStringList {"--parity", "X"}
                                  << 2 << QString() << "--parity 的值「X」不對";
}

void TestScriptRun::exitStatus()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, options);
    QFETCH(int, status);
    QFETCH(QString, out);
    QFETCH(QString, err);
    const QString log = m_dir.filePath(QStringLiteral("run.log"));
    QFile::remove(log);
    QProcess *p = telvix(script, QStringList {"--log", log} + options);
    QVERIFY(p->waitForFinished(20000));
    const QString stderrText = QString::fromUtf8(p->readAllStandardError());
    QCOMPARE(QString::fromUtf8(p->readAllStandardOutput()), out);
    QVERIFY2(stderrText.contains(err), qPrintable(stderrText));
    QCOMPARE(p->exitCode(), status);
    if (status != 0)
        return;
    // The log has the conversation in its order, and the script's own event.
    QFile written(log);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QStringList kinds;
    for (const QByteArray &line : written.readAll().split('\n')) {
        if (!line.isEmpty())
            kinds << QString::fromUtf8(line.split('\t').value(1) + ' ' + line.split('\t').value(2))
                             .left(9);
    }
    QCOMPARE(kinds.size(), 5);
    QVERIFY2(kinds[0].startsWith(u"TX") && kinds[1].startsWith(u"RX") && kinds[2].startsWith(u"TX")
                     && kinds[3].startsWith(u"RX") && kinds[4] == u"EV REPORT",
             qPrintable(kinds.join(u'|')));
}

void TestScriptRun::ctrlCEndsItAtOnce()
{
    QProcess *p = telvix("print('waiting')\nsleep(60000)",
                         {QStringLiteral("--port"), QStringLiteral("PORT")});
    QVERIFY(p->waitForReadyRead(10000));
    QElapsedTimer stopping;
    stopping.start();
    ::kill(pid_t(p->processId()), SIGINT);
    QVERIFY(p->waitForFinished(5000));
    QCOMPARE(p->exitCode(), 130);
    QVERIFY2(stopping.elapsed() < 2000, qPrintable(QString::number(stopping.elapsed())));
}

QTEST_GUILESS_MAIN(TestScriptRun)
#include "tst_scriptrun.moc"
