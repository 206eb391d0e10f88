// SPDX-License-Identifier: MIT
// The traffic display as output streams in: it follows the caret calmly, shows each line's
// start when it can, leaves a user who scrolled away where they are, and keeps following on a
// line wider than 2^31 pixels.
#include "GuiHelpers.h"

#include "main/Telvixmain1.h"
#include "main/TrafficView.h"
#include "serial/SerialPort.h"
#include "session/ReceivedDisplay.h"
#include "traffic/DisplayFormatter.h"
#include "traffic/TrafficRenderer.h"

#include <QAccessible>
#include <QClipboard>
#include <QImage>
#include <QScrollBar>
#include <QTest>

#include <climits>

namespace {

TrafficView *display() { return Form1->memo1(); }

// The pixels of text the viewport shows side by side.
int64_t shownWidth() { return display()->viewport()->width() - 8; }

int64_t caretX()
{
    const TextPosition c = display()->caret();
    return display()->text().xOfColumn(c.line, c.column);
}

bool caretInView()
{
    const int64_t x = caretX();
    const int64_t offset = display()->horizontalOffset();
    const QScrollBar *v = display()->verticalScrollBar();
    const qsizetype line = display()->caret().line;
    return x >= offset && x <= offset + display()->viewport()->width() && line >= v->value()
            && line < v->value() + v->pageStep();
}

// One HEX line of `bytes` values and the CR rule's break, as the formatter writes it.
QString hexLine(int bytes)
{
    QString line;
    for (int i = 0; i < bytes - 1; ++i)
        line += QStringLiteral("%1 ").arg((i * 37) & 0xFF, 2, 16, QChar(u'0')).toUpper();
    return line + QStringLiteral("0D \n0A ");
}

// The display as a mode reaches it, with a view of the test's own.
class ViewHost : public ModeHost
{
public:
    ViewHost() { view.resize(600, 200); }
    std::unique_ptr<SerialPort> openPort() override { return nullptr; }
    void enterMode(Mode) override { }
    void leaveMode(Mode) override { }
    void setStatusText(const QString &) override { }
    DisplaySink &display() override { return view; }
    TrafficRenderer &renderer() override { return m_renderer; }
    TrafficStream &traffic() override { return m_traffic; }
    void message(const QString &) override { }
    void errorBox(const QString &) override { }

    DisplayFormatter formatter;
    TrafficView view;

    // One pass of the read loop carrying these records.
    void pass(const std::vector<TrafficRecord> &records)
    {
        ReceivedDisplay shown(*this);
        m_traffic.subscribe(&shown);
        for (const TrafficRecord &r : records)
            m_traffic.publish(r);
        m_traffic.passEnd();
        m_traffic.unsubscribe(&shown);
    }

private:
    TrafficRenderer m_renderer {formatter};
    TrafficStream m_traffic;
};

// The marked characters of the view, as the text with each marked one bracketed.
QString markedText(const TrafficView &view)
{
    QString out;
    const TrafficText &t = view.text();
    for (qsizetype i = 0; i < t.lineCount(); ++i) {
        if (i)
            out += u'\n';
        qsizetype at = 0;
        for (const MarkedRange &m : t.markedRanges(i)) {
            out += t.line(i).mid(at, m.from - at) + u'[' + t.line(i).mid(m.from, m.to - m.from)
                    + u']';
            at = m.to;
        }
        out += t.line(i).mid(at);
    }
    return out;
}

// Counts the paints of a widget and the pixels they covered.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;
    qint64 pixels = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            for (const QRect &r : static_cast<QPaintEvent *>(event)->region())
                pixels += qint64(r.width()) * r.height();
        }
        return false;
    }
};

int pixelsOf(const QImage &image, const QRect &box, const QColor &color)
{
    int n = 0;
    for (int y = box.top(); y <= box.bottom(); ++y)
        for (int x = box.left(); x <= box.right(); ++x)
            n += image.pixelColor(x, y).rgb() == color.rgb() ? 1 : 0;
    return n;
}

} // namespace

class TestTrafficView : public QObject
{
    Q_OBJECT

private slots:
    void init() { freshStart(); }
    void cleanupTestCase() { tearDownForms(); }

    void hexStreamScrollsCalmly();
    void userWhoScrolledAwayStays();
    void followsPastTwoGigapixels();
    void flawedBytesAreMarked_data();
    void flawedBytesAreMarked();
    void markedCharactersArePaintedApart();
    void markedCharactersAreToldAsInvalid();
    void wideTextIsDrawnSelectedAndCopied();
    void aRunningLinePaintsOnlyWhatChanged();
};

void TestTrafficView::flawedBytesAreMarked_data()
{
    QTest::addColumn<bool>("hex");
    QTest::addColumn<bool>("stamps");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ascii") << false << false << QStringLiteral("ab[xy]c");
    QTest::newRow("hex") << true << false << QStringLiteral("61 62 [78 79] 63 ");
    QTest::newRow("ascii, line times") << false << true << QStringLiteral("[x<CR>]\n[y]z");
}

void TestTrafficView::flawedBytesAreMarked()
{
    QFETCH(bool, hex);
    QFETCH(bool, stamps);
    QFETCH(QString, expected);
    ViewHost host;
    host.formatter.setHexForm(hex);
    host.renderer().setOptions({stamps, 0, false});
    if (stamps) {
        // A CR that came flawed breaks the line as any CR does; the time that opens the next
        // line is no part of the mark.
        host.pass({{TrafficKind::Flawed, 1, "x\ry"}, {TrafficKind::Received, 2, "z"}});
        QString text = host.view.toPlainText();
        QVERIFY(text.startsWith(u'['));
        const QString stamp = TrafficRenderer::timestamp(1);
        QCOMPARE(markedText(host.view).remove(stamp), expected);
        return;
    }
    host.pass({{TrafficKind::Received, 1, "ab"},
               {TrafficKind::Flawed, 1, "xy"},
               {TrafficKind::Received, 1, "c"}});
    QCOMPARE(markedText(host.view), expected);
    // What comes after, unflawed, stays unmarked.
    host.pass({{TrafficKind::Received, 2, "d"}});
    QCOMPARE(host.view.text().markedRanges(0).size(), size_t(1));
}

void TestTrafficView::markedCharactersArePaintedApart()
{
    for (bool readOnly : {false, true}) {
        ViewHost host;
        host.view.setReadOnly(readOnly);
        host.pass({{TrafficKind::Received, 1, "aaaa"}, {TrafficKind::Flawed, 1, "MMMM"}});
        host.view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host.view));
        const QImage image = host.view.viewport()->grab().toImage();
        const TrafficView &v = host.view;
        const QRect marked = v.characterRect({0, 4}).united(v.characterRect({0, 7}));
        const QRect plain = v.characterRect({0, 0}).united(v.characterRect({0, 3}));
        QVERIFY(pixelsOf(image, marked, TrafficView::flawBackgroundColor()) > marked.width());
        QCOMPARE(pixelsOf(image, plain, TrafficView::flawBackgroundColor()), 0);
    }
}

void TestTrafficView::markedCharactersAreToldAsInvalid()
{
    ViewHost host;
    host.pass({{TrafficKind::Received, 1, "ab"},
               {TrafficKind::Flawed, 1, "xy"},
               {TrafficKind::Received, 1, "c\rd"}});
    QCOMPARE(host.view.toPlainText(), QStringLiteral("abxyc<CR>\nd"));
    QAccessibleTextInterface *text =
            QAccessible::queryAccessibleInterface(&host.view)->textInterface();
    QVERIFY(text);
    int start = -1;
    int end = -1;
    for (int offset : {2, 3}) {
        const QString attributes = text->attributes(offset, &start, &end);
        QVERIFY2(attributes.contains(QStringLiteral("invalid:true;")), qPrintable(attributes));
        QVERIFY(attributes.contains(QStringLiteral("telvix-flaw:parity-or-framing;")));
        QVERIFY(attributes.contains(QStringLiteral("background-color:rgb(")));
        QCOMPARE(start, 2);
        QCOMPARE(end, 4);
    }
    QVERIFY(text->attributes(1, &start, &end).isEmpty());
    QCOMPARE(start, 0);
    QCOMPARE(end, 2);
    QVERIFY(text->attributes(4, &start, &end).isEmpty());
    QCOMPARE(start, 4);
    QCOMPARE(end, 10); // the rest of the line with its break
    QVERIFY(text->attributes(10, &start, &end).isEmpty());
    QCOMPARE(start, 10);
    QCOMPARE(end, 11);
}

void TestTrafficView::hexStreamScrollsCalmly()
{
    TrafficView *memo = display();
    const QString line = hexLine(100); // several viewport widths wide
    const int lines = 12;
    int jumps = 0;
    int64_t lastOffset = memo->horizontalOffset();
    qsizetype lastLine = 0;
    int64_t widest = 0;
    for (int n = 0; n < lines; ++n) {
        // Passes of a few bytes to a few dozen, as a line arrives at various rates; some of
        // them carry a line's end and the next line's start together.
        static const int PassSizes[] = {9, 47, 131, 23};
        int pass = 0;
        for (qsizetype i = 0; i < line.size(); i += PassSizes[pass++ % 4]) {
            memo->insertAtCaret(QStringView(line).mid(i, PassSizes[pass % 4]));
            QVERIFY2(caretInView(), "the caret left the view");
            const int64_t offset = memo->horizontalOffset();
            // While the caret can be seen together with its line's start, the start is shown.
            if (caretX() <= shownWidth())
                QCOMPARE(offset, int64_t(0));
            if (offset != lastOffset)
                ++jumps;
            lastOffset = offset;
            if (memo->caret().line != lastLine) {
                widest = std::max(widest, memo->text().lineWidth(lastLine));
                lastLine = memo->caret().line;
            }
        }
    }
    // Each line scrolls back once and forward by big steps: two thirds of the view at a time.
    const int64_t width = shownWidth();
    const int64_t perLine = 1 + (widest - width + width / 2 - 1) / (width / 2);
    QVERIFY2(jumps <= lines * (perLine + 1),
             qPrintable(QStringLiteral("%1 sideways jumps for %2 lines").arg(jumps).arg(lines)));
    // The stream ends on a line that has just begun: its start is in view, not the middle of
    // the line before.
    QCOMPARE(memo->horizontalOffset(), int64_t(0));
    QVERIFY(memo->isFollowing());
}

void TestTrafficView::userWhoScrolledAwayStays()
{
    TrafficView *memo = display();
    for (int i = 0; i < 200; ++i)
        memo->insertAtCaret(QStringLiteral("line %1<CR>\n<LF>").arg(i));
    QScrollBar *v = memo->verticalScrollBar();
    QCOMPARE(v->value(), v->maximum());

    // The user pages up to read: arriving lines do not pull the view back down.
    v->triggerAction(QAbstractSlider::SliderPageStepSub);
    v->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int reading = v->value();
    QVERIFY(reading < v->maximum());
    QVERIFY(!memo->isFollowing());
    for (int i = 0; i < 50; ++i)
        memo->insertAtCaret(QStringLiteral("more %1<CR>\n<LF>").arg(i));
    QCOMPARE(v->value(), reading);

    // Back at the end, the view follows again.
    v->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(memo->isFollowing());
    for (int i = 0; i < 50; ++i)
        memo->insertAtCaret(QStringLiteral("again %1<CR>\n<LF>").arg(i));
    QCOMPARE(v->value(), v->maximum());
    QVERIFY(caretInView());

    // Sideways too: a user who scrolls back to a long line's start keeps it while it grows.
    memo->insertAtCaret(QString(3000, u'x'));
    QScrollBar *h = memo->horizontalScrollBar();
    QVERIFY(h->value() > 0);
    h->triggerAction(QAbstractSlider::SliderToMinimum);
    QVERIFY(!memo->isFollowing());
    memo->insertAtCaret(QString(500, u'y'));
    QCOMPARE(h->value(), 0);
    // A click or a key moves the caret: that is following again.
    QTest::keyClick(memo, Qt::Key_End);
    QVERIFY(memo->isFollowing());
    QVERIFY(caretInView());
}

void TestTrafficView::followsPastTwoGigapixels()
{
    // One unbroken line wider than int can count in pixels: a large font makes it from a
    // million characters instead of the hundreds of millions a day of NoCR HEX would take.
    TrafficView *memo = display();
    QFont huge(QStringLiteral("DejaVu Sans Mono"));
    huge.setPixelSize(2400);
    memo->setFont(huge);
    const QString chunk(65536, u'W');
    const int64_t target = int64_t(INT_MAX) + int64_t(INT_MAX) / 4;
    while (memo->text().lineWidth(0) < target)
        memo->insertAtCaret(chunk);
    QVERIFY(memo->text().maxWidth() > INT_MAX);
    QVERIFY(memo->horizontalScrollBar()->maximum() > 0);
    QVERIFY(caretInView());
    QVERIFY(memo->horizontalOffset() > INT_MAX);
    // The bar's end is the line's end.
    memo->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(memo->horizontalOffset(), int64_t(0));
    memo->horizontalScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
    QVERIFY(caretInView());
    // At this size one character is wider than the view: a new line starts at the left edge.
    memo->insertAtCaret(u"\n");
    QCOMPARE(memo->horizontalOffset(), int64_t(0));
    QVERIFY(caretInView());
}

void TestTrafficView::wideTextIsDrawnSelectedAndCopied()
{
    // Big5 received in the middle of a Latin-1 line turns it wide; the line next to it stays
    // Latin-1. Both are drawn, a word of either is picked by a double click, and a selection
    // over both is copied as shown.
    ViewHost host;
    host.pass({{TrafficKind::Received, 1, "abc \xA4\xA4\xA4\xE5 d\rxyz end"}});
    host.pass({{TrafficKind::Flawed, 2, "!"}});
    TrafficView &v = host.view;
    QCOMPARE(v.toPlainText(), QStringLiteral("abc 中文 d<CR>\nxyz end!"));
    const TrafficText &t = v.text();
    QVERIFY(!t.isLatin1Line(0));
    QVERIFY(t.isLatin1Line(1));
    QCOMPARE(t.markedRanges(1), (std::vector<MarkedRange> {{7, 8}}));
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    const QImage image = v.viewport()->grab().toImage();
    const QColor base = v.palette().color(QPalette::Base);
    for (TextPosition p : {TextPosition {0, 4}, TextPosition {0, 5}, TextPosition {1, 0}}) {
        const QRect box = v.characterRect(p);
        QVERIFY2(pixelsOf(image, box, base) < box.width() * box.height(),
                 qPrintable(QStringLiteral("nothing drawn at %1:%2").arg(p.line).arg(p.column)));
    }
    QTest::mouseDClick(v.viewport(), Qt::LeftButton, {}, v.characterRect({0, 5}).center());
    QCOMPARE(t.selectedText(), QStringLiteral("中文"));
    QTest::mouseDClick(v.viewport(), Qt::LeftButton, {}, v.characterRect({1, 1}).center());
    QCOMPARE(t.selectedText(), QStringLiteral("xyz"));
    v.setSelection({0, 5}, {1, 2});
    QTest::keyClick(&v, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), t.textBetween({0, 5}, {1, 2}));
    QCOMPARE(QGuiApplication::clipboard()->text().left(2), QStringLiteral("文 "));
    QVERIFY(QGuiApplication::clipboard()->text().endsWith(QStringLiteral("<CR>\nxy")));
    // Assistive technology reads the wide line whole, with its break.
    QAccessibleTextInterface *text = QAccessible::queryAccessibleInterface(&v)->textInterface();
    int start = -1;
    int end = -1;
    QCOMPARE(text->textAtOffset(5, QAccessible::LineBoundary, &start, &end), t.line(0) + u'\n');
    QCOMPARE(start, 0);
    QCOMPARE(end, int(t.lineLength(0)) + 1);
}

void TestTrafficView::aRunningLinePaintsOnlyWhatChanged()
{
    // A long display that a line keeps adding to, a line a frame: each frame paints the new
    // line, the one it ended and the margin below them, the rest moves up; the scroll bar is
    // painted when its slider moves, not at every frame. What is on screen at the end is what a
    // full paint shows.
    ViewHost host;
    TrafficView &v = host.view;
    // Both bars always there, as in the window.
    v.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    v.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QByteArray history;
    for (int i = 0; i < 3000; ++i)
        history += "earlier line " + QByteArray::number(i) + '\r';
    host.pass({{TrafficKind::Received, 1, history}});
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QTest::qWait(50);
    PaintCounter text(v.viewport());
    PaintCounter bar(v.verticalScrollBar());
    PaintCounter otherBar(v.horizontalScrollBar());
    const int frames = 40;
    for (int i = 0; i < frames; ++i) {
        host.pass({{TrafficKind::Received, 2, "line " + QByteArray::number(i) + "\rnext "}});
        QTest::qWait(20);
    }
    QCOMPARE(v.verticalScrollBar()->value(), v.verticalScrollBar()->maximum());
    const qint64 aFrameOfLines = qint64(v.viewport()->width()) * v.fontMetrics().height() * 4;
    QVERIFY2(text.paints >= frames / 2 && text.pixels <= frames * aFrameOfLines,
             qPrintable(QStringLiteral("%1 paints, %2 pixels for %3 frames of %4 rows")
                                .arg(text.paints)
                                .arg(text.pixels)
                                .arg(frames)
                                .arg(v.verticalScrollBar()->pageStep())));
    QVERIFY2(bar.paints <= frames / 4, qPrintable(QStringLiteral("%1 paints").arg(bar.paints)));
    QVERIFY2(otherBar.paints <= 1, qPrintable(QStringLiteral("%1 paints").arg(otherBar.paints)));

    const QPoint at = v.viewport()->mapTo(&v, QPoint(0, 0));
    const QImage onScreen = v.screen()
                                    ->grabWindow(v.winId(), at.x(), at.y(), v.viewport()->width(),
                                                 v.viewport()->height())
                                    .toImage()
                                    .convertToFormat(QImage::Format_RGB32);
    const QImage painted = v.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(onScreen.size(), painted.size());
    QVERIFY(onScreen == painted);
}

QTEST_MAIN(TestTrafficView)
#include "tst_trafficview.moc"
