// SPDX-License-Identifier: MIT
// telvix-sim as a user runs it: the built program, publishing in a runtime folder of the
// test's own, talked to through the published link exactly as TELVIX opens a port.
#include "FakeSysfs.h"
#include "serial/PortInfo.h"
#include "serial/PortScan.h"
#include "serial/SerialLine.h"
#include "serial/VirtualPorts.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <modbus.h>

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kSimPath = QStringLiteral(TELVIX_SIM_PATH);

bool waitFor(const std::function<bool()> &condition, int timeoutMs = 3000)
{
    QElapsedTimer t;
    t.start();
    while (!condition()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
    }
    return true;
}

// One telvix-sim process publishing into `runtimeDir`/telvix.
class Sim
{
public:
    explicit Sim(const QString &runtimeDir) : m_folder(runtimeDir + QStringLiteral("/telvix"))
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        m_process.setProcessEnvironment(env);
    }
    ~Sim()
    {
        if (m_process.state() != QProcess::NotRunning) {
            ::kill(pid_t(m_process.processId()), SIGKILL);
            m_process.waitForFinished(3000);
        }
    }

    // Starts the program and waits until `name` is published.
    bool start(const QStringList &args, const QString &name)
    {
        m_link = m_folder + u'/' + name;
        m_process.start(kSimPath, args);
        if (!m_process.waitForStarted(3000))
            return false;
        return waitFor([&] {
                   return QFileInfo(m_link).isSymLink()
                           || m_process.state() == QProcess::NotRunning;
               })
                && QFileInfo(m_link).isSymLink();
    }
    // Runs the program to its end, for command lines that must be refused.
    int runToEnd(const QStringList &args)
    {
        m_process.start(kSimPath, args);
        m_process.waitForFinished(5000);
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    // Signals the program and waits for it; its exit code, -1 when it did not end normally.
    int stop(int signal = SIGTERM)
    {
        ::kill(pid_t(m_process.processId()), signal);
        if (!m_process.waitForFinished(5000))
            return -2;
        return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
    }
    bool waitForExit(int timeoutMs) { return m_process.waitForFinished(timeoutMs); }
    int exitCode() const { return m_process.exitCode(); }

    QString link() const { return m_link; }
    QString folder() const { return m_folder; }
    QByteArray output() { return m_process.readAllStandardOutput(); }
    QByteArray errors() { return m_process.readAllStandardError(); }
    qint64 pid() const { return m_process.processId(); }

private:
    QString m_folder;
    QString m_link;
    QProcess m_process;
};

// The port opened as TELVIX opens it: exclusive, raw, non-blocking.
class Line
{
public:
    explicit Line(const QString &path) : m_fd(serial::openPort(path.toStdString()).fd)
    {
        if (m_fd >= 0
            && !serial::writeConfig(m_fd,
                                    serial::LineParams {115200, serial::Parity::None, 8, 0})) {
            serial::closePort(m_fd);
            m_fd = -1;
        }
    }
    ~Line() { serial::closePort(m_fd); }
    bool isOpen() const { return m_fd >= 0; }

    bool write(const QByteArray &bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0)
                done += n;
            else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd p {m_fd, POLLOUT, 0};
                poll(&p, 1, 100);
            } else
                return false;
        }
        return true;
    }
    // Reads until `count` bytes are in or nothing arrives for `quietMs`.
    QByteArray read(qsizetype count, int quietMs = 2000)
    {
        QByteArray out;
        uint8_t buf[4096];
        while (out.size() < count && serial::waitReadable(m_fd, quietMs)) {
            size_t n = 0;
            if (serial::readBytes(m_fd, buf,
                                  std::min<size_t>(sizeof buf, size_t(count - out.size())), n)
                == serial::ReadStatus::Gone)
                break;
            out.append(reinterpret_cast<const char *>(buf), qsizetype(n));
        }
        return out;
    }
    // Writes and reads at the same time, for more than the pseudo-terminal buffers at once.
    QByteArray exchange(const QByteArray &bytes)
    {
        QByteArray in;
        qsizetype sent = 0;
        QElapsedTimer quiet;
        quiet.start();
        uint8_t buf[4096];
        while (in.size() < bytes.size() && quiet.elapsed() < 2000) {
            if (sent < bytes.size()) {
                const ssize_t n = ::write(m_fd, bytes.constData() + sent,
                                          std::min<size_t>(1024, size_t(bytes.size() - sent)));
                if (n > 0)
                    sent += n;
            }
            pollfd p {m_fd, POLLIN, 0};
            if (poll(&p, 1, sent < bytes.size() ? 0 : 50) > 0) {
                size_t n = 0;
                if (serial::readBytes(m_fd, buf, sizeof buf, n) == serial::ReadStatus::Gone)
                    break;
                if (n > 0) {
                    in.append(reinterpret_cast<const char *>(buf), qsizetype(n));
                    quiet.restart();
                }
            }
        }
        return in;
    }

    // Waits for the hang-up a pulled adapter gives: poll's POLLHUP, or a read of 0 or EIO.
    bool hangsUp(int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            pollfd p {m_fd, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0)
                continue;
            if (p.revents & (POLLHUP | POLLERR))
                return true;
            uint8_t byte = 0;
            const ssize_t n = ::read(m_fd, &byte, 1);
            if (n == 0 || (n < 0 && errno == EIO))
                return true;
        }
        return false;
    }

private:
    int m_fd = -1;
};

QByteArray allByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes += char(i);
    return bytes;
}

// "key=value" out of the report line of the sink (or of another device).
QByteArray reportField(const QByteArray &output, const QByteArray &key,
                       const QByteArray &device = "sink:")
{
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith(device))
            continue;
        for (const QByteArray &field : line.split(' ')) {
            if (field.startsWith(key + '='))
                return field.mid(key.size() + 1);
        }
    }
    return {};
}

// What a Modbus read came to: the values, or the errno libmodbus set.
struct Reading
{
    int error = 0;
    QList<int> values;
    bool operator==(const Reading &) const = default;
};

QByteArray describe(const Reading &r)
{
    QByteArray text = r.error ? QByteArray("error: ") + modbus_strerror(r.error) : "values";
    for (int v : r.values)
        text += ' ' + QByteArray::number(v);
    return text;
}

char *toString(const Reading &r) { return qstrdup(describe(r).constData()); }

Reading values(const QList<int> &v) { return {0, v}; }
Reading failure(int error) { return {error, {}}; }

// A libmodbus master on the published port, opened as any Modbus program opens a serial port.
class Master
{
public:
    Master(const QString &path, int slave, int timeoutMs = 300)
        : m_context(modbus_new_rtu(QFile::encodeName(path).constData(), 115200, 'N', 8, 1))
    {
        m_open = m_context && modbus_set_slave(m_context, slave) == 0
                && modbus_connect(m_context) == 0
                && modbus_set_response_timeout(m_context, uint32_t(timeoutMs / 1000),
                                               uint32_t(timeoutMs % 1000) * 1000)
                        == 0;
    }
    ~Master()
    {
        if (m_open)
            modbus_close(m_context);
        modbus_free(m_context);
    }
    bool isOpen() const { return m_open; }
    modbus_t *get() const { return m_context; }

    template<typename T>
    Reading read(int (*call)(modbus_t *, int, int, T *), int address, int count)
    {
        std::vector<T> got(static_cast<size_t>(count));
        if (call(m_context, address, count, got.data()) != count)
            return failure(errno);
        return values(QList<int>(got.begin(), got.end()));
    }
    Reading holding(int address, int count) { return read(modbus_read_registers, address, count); }

private:
    modbus_t *m_context;
    bool m_open = false;
};

// libmodbus's master on a socket pair, for a test that cuts and joins frames on the line
// itself: its request is taken off the pair instead of sent, and a reply put into the pair is
// read back as the answer to the same request again, through all of libmodbus's checks.
class FrameMaster
{
public:
    FrameMaster() : m_context(modbus_new_rtu("frames", 115200, 'N', 8, 1))
    {
        m_open = socketpair(AF_UNIX, SOCK_STREAM, 0, m_pair) == 0 && m_context
                && modbus_set_slave(m_context, 1) == 0
                && modbus_set_socket(m_context, m_pair[0]) == 0
                && modbus_set_response_timeout(m_context, 0, 1000) == 0;
    }
    ~FrameMaster()
    {
        modbus_free(m_context);
        ::close(m_pair[0]);
        ::close(m_pair[1]);
    }
    bool isOpen() const { return m_open; }

    // The request times out unanswered, and is then in the pair.
    QByteArray request(int address, int count)
    {
        uint16_t unused[MODBUS_MAX_READ_REGISTERS];
        modbus_read_registers(m_context, address, count, unused);
        return sent();
    }
    Reading answer(const QByteArray &reply, int address, int count)
    {
        if (::write(m_pair[1], reply.constData(), size_t(reply.size())) != reply.size())
            return failure(errno);
        std::vector<uint16_t> got(static_cast<size_t>(count));
        const int n = modbus_read_registers(m_context, address, count, got.data());
        const Reading r = n == count ? values(QList<int>(got.begin(), got.end())) : failure(errno);
        sent();
        return r;
    }

private:
    QByteArray sent()
    {
        char frame[MODBUS_RTU_MAX_ADU_LENGTH];
        const ssize_t n = recv(m_pair[1], frame, sizeof frame, MSG_DONTWAIT);
        return QByteArray(frame, std::max<qsizetype>(0, n));
    }

    modbus_t *m_context;
    int m_pair[2] = {-1, -1};
    bool m_open = false;
};

QList<int> counting(int from, int count)
{
    QList<int> v;
    for (int i = 0; i < count; ++i)
        v.append(from + i);
    return v;
}

} // namespace

class SimTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void echoIsByteExact_data();
    void echoIsByteExact();
    void echoSurvivesReopening();
    void sinkIsByteExact_data();
    void sinkIsByteExact();
    void atAnswers();
    void streamSendsCountOnlyWhileOpen();
    void streamPatterns_data();
    void streamPatterns();
    void scannerSendsBarcodes();
    void unpluggedPortComesBack();
    void modbusRegisters();
    void modbusFaults_data();
    void modbusFaults();
    void modbusLateReplies_data();
    void modbusLateReplies();
    void modbusOtherAddresses();
    void modbusRequestsSplitOrJoined_data();
    void modbusRequestsSplitOrJoined();

    void stopRemovesThePort_data();
    void stopRemovesThePort();
    void killedSimulatorIsIgnoredAndRemoved();
    void namesInUse();
    void listedAfterHardware_data();
    void listedAfterHardware();
    void hardwarePortsLeaveSimulatorsOut();
    void badCommandLinesPublishNothing_data();
    void badCommandLinesPublishNothing();
    void untrustedFolderRefused();

private:
    std::unique_ptr<QTemporaryDir> m_runtime;
};

void SimTest::init()
{
    QVERIFY2(QFileInfo(kSimPath).isExecutable(), qPrintable(kSimPath));
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_runtime->isValid());
}

void SimTest::echoIsByteExact_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("piece"); // bytes per write; 0: all at once while reading

    QTest::newRow("all values in one write") << allByteValues() << 256;
    QTest::newRow("all values one at a time") << allByteValues() << 1;
    QTest::newRow("256 KiB, more than the line buffers") << allByteValues().repeated(1024) << 0;
}

void SimTest::echoIsByteExact()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, piece);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo", "--quiet"}, "sim-echo"));
    Line line(sim.link());
    QVERIFY(line.isOpen());
    QByteArray back;
    if (piece == 0) {
        back = line.exchange(bytes);
    } else {
        for (qsizetype i = 0; i < bytes.size(); i += piece) {
            QVERIFY(line.write(bytes.mid(i, piece)));
            back += line.read(std::min<qsizetype>(piece, bytes.size() - i));
        }
    }
    QCOMPARE(back.size(), bytes.size());
    QCOMPARE(back, bytes);
    QCOMPARE(sim.stop(), 0);
}

// TELVIX opens the port for each mode and closes it after; the device must stay usable.
void SimTest::echoSurvivesReopening()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo"}, "sim-echo"));
    for (int round = 0; round < 5; ++round) {
        Line line(sim.link());
        QVERIFY(line.isOpen());
        const QByteArray probe = "round " + QByteArray::number(round) + "\r\n";
        QVERIFY(line.write(probe));
        QCOMPARE(line.read(probe.size()), probe);
        if (round % 2)
            QTest::qWait(60); // long enough for the simulator to see the port closed
    }
    QCOMPARE(sim.stop(), 0);
    const QByteArray log = sim.output();
    QVERIFY2(log.contains("port opened") && log.contains("port closed"), log.constData());
}

void SimTest::sinkIsByteExact_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("connections");

    QByteArray random;
    quint32 x = 12345;
    for (int i = 0; i < 100000; ++i) {
        x = x * 1103515245u + 12345u;
        random += char(x >> 24);
    }
    QTest::newRow("all values") << allByteValues() << 1;
    QTest::newRow("all values over three openings") << allByteValues().repeated(3) << 3;
    QTest::newRow("100 kB") << random << 1;
}

void SimTest::sinkIsByteExact()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, connections);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"sink", "--quiet"}, "sim-sink"));
    const qsizetype part = bytes.size() / connections;
    for (int c = 0; c < connections; ++c) {
        {
            Line line(sim.link());
            QVERIFY(line.isOpen());
            QVERIFY(line.write(bytes.mid(c * part, c + 1 == connections ? -1 : part)));
        }
        QTest::qWait(60); // long enough for the simulator to see the port closed
    }
    QCOMPARE(sim.stop(), 0);
    const QByteArray out = sim.output();
    QCOMPARE(reportField(out, "bytes"), QByteArray::number(bytes.size()));
    QCOMPARE(reportField(out, "sha256"),
             QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    // Gaps are counted within each opening only.
    QCOMPARE(reportField(out, "gap_count"), QByteArray::number(bytes.size() - connections));
    for (const char *key : {"gap_median_ms", "gap_p99_ms", "gap_max_ms"}) {
        bool ok = false;
        reportField(out, key).toDouble(&ok);
        QVERIFY2(ok, key);
    }
}

void SimTest::atAnswers()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"at"}, "sim-at"));
    Line line(sim.link());
    QVERIFY(line.isOpen());
    struct Case
    {
        QByteArray command, answer;
    };
    const Case cases[] = {
            {"AT\r", "\r\nOK\r\n"},
            {"ATI\r", "\r\ntelvix-sim virtual modem\r\n\r\nOK\r\n"},
            {"ATD123\r", "\r\nERROR\r\n"},
            {"AT\r\n", "\r\nOK\r\n"},
            {QByteArray("\xff\x00\r", 3), "\r\nERROR\r\n"},
    };
    for (const Case &c : cases) {
        QVERIFY(line.write(c.command));
        QCOMPARE(line.read(c.answer.size()), c.answer);
    }
    QVERIFY(line.write("AT"));
    QCOMPARE(line.read(1, 150), QByteArray()); // no CR, no answer
    QVERIFY(line.write("\r"));
    QCOMPARE(line.read(6), QByteArray("\r\nOK\r\n"));
    QCOMPARE(sim.stop(), 0);
}

void SimTest::streamSendsCountOnlyWhileOpen()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"stream", "--pattern", "counter", "--rate", "0", "--count", "3000"},
                      "sim-stream"));
    QTest::qWait(150); // nobody listens yet: nothing may pile up for later
    {
        Line line(sim.link());
        QVERIFY(line.isOpen());
        const QByteArray got = line.read(3001, 300);
        QCOMPARE(got.size(), 3000);
        for (int i = 0; i < got.size(); ++i)
            QCOMPARE(uint8_t(got[i]), uint8_t(i));
        QVERIFY(sim.pid() > 0);
        QVERIFY(!sim.waitForExit(100)); // the count is sent, but the port is still open
    }
    QVERIFY(sim.waitForExit(3000));
    QCOMPARE(sim.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(sim.link()) && !QFileInfo(sim.link()).isSymLink());
    // The report names exactly what the port took, for a receiver to check against.
    QByteArray counter;
    for (int i = 0; i < 3000; ++i)
        counter += char(i);
    const QByteArray out = sim.output();
    QCOMPARE(reportField(out, "bytes", "stream:"), QByteArray("3000"));
    QCOMPARE(reportField(out, "sha256", "stream:"),
             QCryptographicHash::hash(counter, QCryptographicHash::Sha256).toHex());
}

void SimTest::streamPatterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::newRow("text") << "text";
    QTest::newRow("nmea") << "nmea";
}

void SimTest::streamPatterns()
{
    QFETCH(QString, pattern);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"stream", "--pattern", pattern, "--rate", "20000"}, "sim-stream"));
    Line line(sim.link());
    QVERIFY(line.isOpen());
    const QByteArray got = line.read(2000);
    QCOMPARE(got.size(), 2000);
    const QList<QByteArray> lines = got.split('\n');
    QVERIFY(lines.size() > 5);
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) { // the first and last may be cut
        QVERIFY2(lines[i].endsWith('\r'), lines[i].constData());
        if (pattern == "nmea") {
            QVERIFY2(lines[i].startsWith("$GP"), lines[i].constData());
            const qsizetype star = lines[i].lastIndexOf('*');
            uint8_t sum = 0;
            for (char c : lines[i].mid(1, star - 1))
                sum ^= uint8_t(c);
            QCOMPARE(lines[i].mid(star + 1, 2).toUInt(nullptr, 16), uint(sum));
        }
    }
    QCOMPARE(sim.stop(), 0);
}

void SimTest::scannerSendsBarcodes()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"scanner", "--period", "0.1"}, "sim-scanner"));
    Line line(sim.link());
    QVERIFY(line.isOpen());
    const QByteArray got = line.read(28, 1000);
    QCOMPARE(got.size(), 28);
    const QList<QByteArray> codes = got.split('\r');
    QCOMPARE(codes.size(), 3); // two lines and nothing after the last CR
    for (int i = 0; i < 2; ++i) {
        QCOMPARE(codes[i].size(), 13);
        int sum = 0;
        for (int d = 0; d < 12; ++d)
            sum += (codes[i][d] - '0') * (d % 2 ? 3 : 1);
        QCOMPARE(codes[i][12] - '0', (10 - sum % 10) % 10);
    }
    QVERIFY(codes[0] != codes[1]);
    QCOMPARE(sim.stop(), 0);
}

// A USB adapter pulled mid-test: the open line hangs up, the port leaves the list, and after
// a while a new line is there under the same path.
void SimTest::unpluggedPortComesBack()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo", "--unplug-after", "0.3", "--away", "1", "--unplug-times", "2",
                       "--name", "usb-pulled"},
                      "usb-pulled"));
    FakeSysfs sys;
    serial::ScanRoots roots = sys.roots();
    roots.virtualDir = sim.folder().toStdString();
    auto line = std::make_unique<Line>(sim.link());
    QVERIFY(line->isOpen());
    for (int round = 0; round < 2; ++round) {
        const QByteArray probe = "round " + QByteArray::number(round);
        QVERIFY(line->write(probe));
        QCOMPARE(line->read(probe.size()), probe);
        QVERIFY(line->hangsUp());
        QVERIFY(!QFileInfo::exists(sim.link())); // gone, or a link that leads nowhere
        QVERIFY(serial::scanPorts(roots).empty());
        line.reset();
        // TELVIX tries the same path again until it opens.
        QVERIFY(waitFor(
                [&] {
                    line = std::make_unique<Line>(sim.link());
                    return line->isOpen();
                },
                5000));
        QCOMPARE(serial::scanPorts(roots).size(), size_t(1));
    }
    QVERIFY(line->write("still echoing"));
    QCOMPARE(line->read(13), QByteArray("still echoing"));
    QCOMPARE(sim.stop(), 0);
    const QByteArray log = sim.output();
    QCOMPARE(log.count("unplugged\n"), 2);
    QCOMPARE(log.count("back: " + sim.link().toUtf8() + "\n"), 2);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    QVERIFY(!QFileInfo::exists(sim.link() + ".pid"));
}

void SimTest::modbusRegisters()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"modbus", "--quiet"}, "sim-modbus"));
    Master master(sim.link(), 1);
    QVERIFY(master.isOpen());
    modbus_t *m = master.get();

    // Each answered read moves its own table on by one, and only that table.
    QCOMPARE(master.holding(0, 10), values(counting(0, 10)));
    QCOMPARE(master.holding(95, 5), values(counting(96, 5)));
    QCOMPARE(master.read(modbus_read_input_registers, 0, 3), values(counting(1000, 3)));
    QCOMPARE(master.read(modbus_read_input_registers, 98, 2), values(counting(1099, 2)));
    QCOMPARE(master.holding(65, 35), values(counting(67, 35)));

    // Written values read back as written, then count on from there.
    const uint16_t block[] = {65535, 7, 8, 9};
    QCOMPARE(modbus_write_register(m, 5, 1234), 1);
    QCOMPARE(modbus_write_registers(m, 96, 4, block), 4);
    QCOMPARE(master.holding(5, 1), values({1234}));
    QCOMPARE(master.holding(96, 4), values({0, 8, 9, 10}));
    QCOMPARE(modbus_write_bit(m, 3, 1), 1);
    QCOMPARE(master.read(modbus_read_bits, 0, 5), values({0, 0, 0, 1, 0}));
    QCOMPARE(master.read(modbus_read_input_bits, 96, 4), values({0, 1, 0, 1}));

    // Past the end libmodbus answers with its own exception, and nothing is written.
    QCOMPARE(master.holding(95, 6), failure(EMBXILADD));
    QCOMPARE(modbus_write_registers(m, 99, 2, block), -1);
    QCOMPARE(errno, EMBXILADD);
    QCOMPARE(master.holding(99, 1), values({11}));
    QCOMPARE(sim.stop(), 0);
}

// What the master sees of each request for holding register 0, in turn: its value or an error.
constexpr int kBadCrc = -1, kNoReply = -2, kException = -3;
using Outcomes = QList<int>;

void SimTest::modbusFaults_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<int>("reopenAfter"); // requests before the port is closed and opened again
    QTest::addColumn<Outcomes>("outcomes");

    // A reply with a bad CRC was still carried out; no reply and an exception mean it was not.
    QTest::newRow("every third reply with a bad CRC") << QStringList {"--bad-crc-every", "3"} << 0
                                                      << Outcomes {0, 1, kBadCrc, 3, 4, kBadCrc, 6};
    QTest::newRow("every second request unanswered")
            << QStringList {"--silent-every", "2"} << 0 << Outcomes {0, kNoReply, 1, kNoReply, 2};
    QTest::newRow("no reply wins over an exception")
            << QStringList {"--silent-every", "2", "--exception-every", "3"} << 0
            << Outcomes {0, kNoReply, kException, kNoReply, 1, kNoReply};
    QTest::newRow("bad CRCs count replies, not requests")
            << QStringList {"--silent-every", "2", "--bad-crc-every", "2"} << 0
            << Outcomes {0, kNoReply, kBadCrc, kNoReply, 2, kNoReply, kBadCrc};
    QTest::newRow("an exception reply can have a bad CRC")
            << QStringList {"--exception-every", "2", "--bad-crc-every", "2"} << 0
            << Outcomes {0, kBadCrc, 1, kBadCrc, 2};
    QTest::newRow("every second an exception, counted anew at each opening")
            << QStringList {"--exception-every", "2"} << 3
            << Outcomes {0, kException, 1, 2, kException, 3};
}

void SimTest::modbusFaults()
{
    QFETCH(QStringList, faults);
    QFETCH(int, reopenAfter);
    QFETCH(Outcomes, outcomes);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start(QStringList {"modbus"} + faults, "sim-modbus"));
    auto master = std::make_unique<Master>(sim.link(), 1);
    QVERIFY(master->isOpen());
    for (int i = 0; i < outcomes.size(); ++i) {
        if (i == reopenAfter) {
            master.reset();
            QTest::qWait(100); // long enough for the simulator to see the port closed
            master = std::make_unique<Master>(sim.link(), 1);
            QVERIFY(master->isOpen());
        }
        const int o = outcomes[i];
        const Reading expected = o == kBadCrc ? failure(EMBBADCRC)
                : o == kNoReply               ? failure(ETIMEDOUT)
                : o == kException             ? failure(EMBXSFAIL)
                                              : values({o});
        const Reading got = master->holding(0, 1);
        QVERIFY2(got == expected,
                 ("request " + QByteArray::number(i + 1) + ": " + describe(got) + ", not "
                  + describe(expected))
                         .constData());
    }
    QCOMPARE(sim.stop(), 0);
}

void SimTest::modbusLateReplies_data()
{
    QTest::addColumn<int>("lateMs");
    QTest::newRow("on time") << 0;
    QTest::newRow("held back 250 ms") << 250;
}

void SimTest::modbusLateReplies()
{
    QFETCH(int, lateMs);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"modbus", "--late", QString::number(lateMs)}, "sim-modbus"));
    Master master(sim.link(), 1, lateMs + 1000);
    QVERIFY(master.isOpen());
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer t;
        t.start();
        QCOMPARE(master.holding(10, 2), values(counting(10 + round, 2)));
        const qint64 took = t.elapsed();
        QVERIFY2(took >= lateMs && took < lateMs + 400, qPrintable(QString::number(took)));
    }
    QCOMPARE(sim.stop(), 0);
}

// A slave on a shared line hears every request and answers only its own; broadcasts it
// carries out in silence. Only its own requests count towards its faults.
void SimTest::modbusOtherAddresses()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"modbus", "--slave", "7", "--exception-every", "2"}, "sim-modbus"));
    Master master(sim.link(), 1);
    QVERIFY(master.isOpen());
    const auto as = [&](int slave) {
        modbus_set_slave(master.get(), slave);
        return master.holding(3, 1);
    };
    QCOMPARE(as(1), failure(ETIMEDOUT));
    QCOMPARE(as(7), values({3}));
    modbus_set_slave(master.get(), MODBUS_BROADCAST_ADDRESS);
    modbus_write_register(master.get(), 3, 999); // libmodbus waits for an answer all the same
    QCOMPARE(as(8), failure(ETIMEDOUT));
    QCOMPARE(as(7), failure(EMBXSFAIL));
    QCOMPARE(as(7), values({999}));
    QCOMPARE(sim.stop(), 0);
}

void SimTest::modbusRequestsSplitOrJoined_data()
{
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("piece"); // bytes per write; 0: all requests in one write
    QTest::addColumn<int>("pauseMs"); // between writes
    QTest::addColumn<int>("unfinished"); // bytes of a request left unfinished before them

    QTest::newRow("one request") << 1 << 0 << 0 << 0;
    QTest::newRow("three requests in one write") << 3 << 0 << 0 << 0;
    QTest::newRow("a byte a write") << 2 << 1 << 3 << 0;
    QTest::newRow("in halves 300 ms apart") << 1 << 4 << 300 << 0;
    QTest::newRow("pieces cutting across two requests") << 2 << 5 << 20 << 0;
    QTest::newRow("an unfinished request dropped after the gap") << 1 << 0 << 0 << 5;
}

void SimTest::modbusRequestsSplitOrJoined()
{
    QFETCH(int, requests);
    QFETCH(int, piece);
    QFETCH(int, pauseMs);
    QFETCH(int, unfinished);
    FrameMaster frames;
    QVERIFY(frames.isOpen());
    const QByteArray request = frames.request(20, 3);
    QCOMPARE(request.size(), 8);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"modbus"}, "sim-modbus"));
    Line line(sim.link());
    QVERIFY(line.isOpen());

    if (unfinished) {
        QVERIFY(line.write(request.left(unfinished)));
        QCOMPARE(line.read(1, 800), QByteArray()); // 0.5 s and a margin for a loaded machine
    }
    const QByteArray bytes = request.repeated(requests);
    const qsizetype step = piece ? piece : bytes.size();
    for (qsizetype i = 0; i < bytes.size(); i += step) {
        if (i > 0)
            QTest::qWait(pauseMs);
        QVERIFY(line.write(bytes.mid(i, step)));
    }
    const qsizetype replySize = 3 + 2 * 3 + 2;
    const QByteArray replies = line.read(replySize * requests + 1, 300);
    QCOMPARE(replies.size(), replySize * requests);
    for (int r = 0; r < requests; ++r)
        QCOMPARE(frames.answer(replies.mid(r * replySize, replySize), 20, 3),
                 values(counting(20 + r, 3)));
    QCOMPARE(sim.stop(), 0);
}

void SimTest::stopRemovesThePort_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("portOpen");
    QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    QTest::newRow("Ctrl+C") << int(SIGINT) << false;
    QTest::newRow("Ctrl+C while TELVIX has the port") << int(SIGINT) << true;
    QTest::newRow("terminal closed (SIGHUP)") << int(SIGHUP) << false;
}

void SimTest::stopRemovesThePort()
{
    QFETCH(int, signal);
    QFETCH(bool, portOpen);
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo"}, "sim-echo"));
    const QString record = sim.link() + ".pid";
    QVERIFY(QFileInfo::exists(record));
    std::unique_ptr<Line> line;
    if (portOpen) {
        line = std::make_unique<Line>(sim.link());
        QVERIFY(line->isOpen());
        QVERIFY(line->write("x"));
        QCOMPARE(line->read(1), QByteArray("x"));
    }
    QCOMPARE(sim.stop(signal), 0);
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    QVERIFY(!QFileInfo::exists(record));
    if (line) // the line is gone with the simulator, as an unplugged adapter is
        QCOMPARE(line->read(1, 100), QByteArray());
}

void SimTest::killedSimulatorIsIgnoredAndRemoved()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo"}, "sim-echo"));
    FakeSysfs sys;
    serial::ScanRoots roots = sys.roots();
    roots.virtualDir = sim.folder().toStdString();
    QCOMPARE(serial::scanPorts(roots).size(), size_t(1));

    QCOMPARE(sim.stop(SIGKILL), -1);
    QVERIFY(QFileInfo(sim.link()).isSymLink()); // a killed process cleans nothing up
    QVERIFY(serial::scanPorts(roots).empty());
    QVERIFY(!QFileInfo(sim.link()).isSymLink());
    QVERIFY(!QFileInfo::exists(sim.link() + ".pid"));

    // The name is free again for the next simulator.
    Sim next(m_runtime->path());
    QVERIFY(next.start({"at"}, "sim-at"));
    QCOMPARE(next.stop(), 0);
}

void SimTest::namesInUse()
{
    Sim first(m_runtime->path());
    QVERIFY(first.start({"echo"}, "sim-echo"));
    Sim second(m_runtime->path());
    QVERIFY(second.start({"echo"}, "sim-echo-2"));

    Sim clash(m_runtime->path());
    QCOMPARE(clash.runToEnd({"at", "--name", "sim-echo"}), 1);
    QVERIFY2(clash.errors().contains("in use by telvix-sim"), "no reason given");
    QVERIFY(QFileInfo(first.link()).isSymLink()); // the clash took nothing away

    Line line(first.link());
    QVERIFY(line.isOpen());
    QVERIFY(line.write("still here"));
    QCOMPARE(line.read(10), QByteArray("still here"));
    QCOMPARE(first.stop(), 0);
    QCOMPARE(second.stop(), 0);
}

void SimTest::listedAfterHardware_data()
{
    QTest::addColumn<int>("uarts");
    QTest::addColumn<int>("usbAdapters");
    QTest::newRow("no hardware: the simulator is COM1") << 0 << 0;
    QTest::newRow("an onboard port") << 1 << 0;
    QTest::newRow("onboard and USB ports") << 2 << 1;
}

void SimTest::listedAfterHardware()
{
    QFETCH(int, uarts);
    QFETCH(int, usbAdapters);
    FakeSysfs sys;
    for (int i = 0; i < uarts; ++i)
        sys.addUart(i);
    sys.addUart(uarts, false); // a placeholder the kernel creates: never a port
    for (int i = 0; i < usbAdapters; ++i)
        sys.addUsbSerial(QStringLiteral("ttyUSB%1").arg(i), "FTDI", "FT232R USB UART", "A1");
    serial::ScanRoots roots = sys.roots();

    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo"}, "sim-echo"));
    roots.virtualDir = sim.folder().toStdString();
    const auto ports = serial::scanPorts(roots);
    const int hardware = uarts + usbAdapters;
    QCOMPARE(int(ports.size()), hardware + 1);
    const serial::PortInfo *com = serial::portForComText(ports, std::to_string(hardware + 1));
    QVERIFY(com);
    QCOMPARE(com->kind, serial::PortKind::Virtual);
    QCOMPARE(QString::fromStdString(com->devicePath), sim.link());
    QCOMPARE(QString::fromStdString(com->description()), "虛擬裝置 (telvix-sim echo)");

    // What the scan names is a port TELVIX can open and use.
    Line line(QString::fromStdString(com->devicePath));
    QVERIFY(line.isOpen());
    QVERIFY(line.write("ok"));
    QCOMPARE(line.read(2), QByteArray("ok"));
    QCOMPARE(sim.stop(), 0);
}

void SimTest::hardwarePortsLeaveSimulatorsOut()
{
    Sim sim(m_runtime->path());
    QVERIFY(sim.start({"echo"}, "sim-echo"));
    Sim hardware(m_runtime->path());
    QCOMPARE(hardware.runToEnd({"--hardware-ports"}), 0);
    QVERIFY(!hardware.output().contains(sim.link().toUtf8()));
    Sim all(m_runtime->path());
    QCOMPARE(all.runToEnd({"--ports"}), 0);
    const QByteArray listed = all.output();
    QVERIFY2(listed.contains(sim.link().toUtf8() + "\t虛擬裝置 (telvix-sim echo)"),
             listed.constData());
    QCOMPARE(sim.stop(), 0);
}

void SimTest::badCommandLinesPublishNothing_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown option") << QStringList {"echo", "--speed", "9600"} << "--speed";
    QTest::newRow("no behaviour") << QStringList {} << "behaviour";
    QTest::newRow("bad rate") << QStringList {"stream", "--rate", "fast"} << "'fast'";
    QTest::newRow("negative unplug time") << QStringList {"echo", "--unplug-after", "-1"} << "'-1'";
    QTest::newRow("unplug time not a number")
            << QStringList {"sink", "--unplug-after", "abc"} << "'abc'";
    QTest::newRow("option of another behaviour")
            << QStringList {"sink", "--pattern", "text"} << "belongs to stream";
    QTest::newRow("no such slave address")
            << QStringList {"modbus", "--slave", "300"} << "from 1 to 247, not '300'";
}

void SimTest::badCommandLinesPublishNothing()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    Sim sim(m_runtime->path());
    QCOMPARE(sim.runToEnd(args), 2);
    const QString errors = QString::fromUtf8(sim.errors());
    QVERIFY2(errors.contains(message) && errors.contains("--help"), qPrintable(errors));
    QVERIFY(!QFileInfo::exists(sim.folder()));
}

void SimTest::untrustedFolderRefused()
{
    const QString folder = m_runtime->path() + "/telvix";
    QVERIFY(QDir().mkdir(folder));
    QVERIFY(QFile::setPermissions(folder, QFileDevice::Permissions(0x7777)));
    Sim sim(m_runtime->path());
    QCOMPARE(sim.runToEnd({"echo"}), 1);
    QVERIFY(sim.errors().contains("written by other users"));
    QVERIFY(QDir(folder).isEmpty());
}

QTEST_GUILESS_MAIN(SimTest)
#include "tst_sim.moc"
