// SPDX-License-Identifier: MIT
// What a screen reader's questions cost with a large display: 10 MiB of received text, as
// short lines and as one unbroken line, asked through the accessibility interface of the real
// display (offscreen). Each figure is the median of many calls in microseconds; "first" is the
// first call after output arrived, which brings the index of line starts up to date.
//
//   a11y_bench [MiB]    (default 10)
#include "main/Forms.h"
#include "main/Telvixmain1.h"
#include "main/TrafficView.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

double microseconds(const std::function<void()> &call)
{
    QElapsedTimer t;
    t.start();
    call();
    return double(t.nsecsElapsed()) / 1000.0;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Fills the display as receive mode does: passes of a few kilobytes at the caret.
void fill(TrafficView *memo, qsizetype characters, bool lines)
{
    const QString line = QStringLiteral("$GPGGA,092750.000,2503.0345,N,12133.8342,E,1,8,1.03,61.7,M,"
                                        "15.2,M,,*6E<CR>\n<LF>");
    QString pass;
    qsizetype shown = 0;
    while (shown < characters) {
        pass.clear();
        while (pass.size() < 4096)
            pass += lines ? line : QStringLiteral("41 42 43 44 45 46 47 48 ");
        memo->insertAtCaret(pass);
        shown += pass.size();
    }
}

void measure(const char *name, TrafficView *memo)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(memo);
    QAccessibleTextInterface *text = iface->textInterface();
    QRandomGenerator rng(3);
    const int count = text->characterCount();

    // One more pass arrives: the first question after it pays for the index.
    memo->insertAtCaret(u"tail<CR>\n");
    int start = 0;
    int end = 0;
    const double firstCount = microseconds([&] { text->characterCount(); });
    const double firstLine = microseconds([&] {
        text->textAtOffset(count / 2, QAccessible::LineBoundary, &start, &end);
    });

    std::vector<double> counts, ranges, words, lines, caret, rects;
    for (int i = 0; i < 201; ++i) {
        const int offset = int(rng.bounded(count));
        counts.push_back(microseconds([&] { text->characterCount(); }));
        ranges.push_back(microseconds([&] { text->text(offset, std::min(count, offset + 80)); }));
        words.push_back(microseconds([&] {
            text->textAtOffset(offset, QAccessible::WordBoundary, &start, &end);
        }));
        lines.push_back(microseconds([&] {
            text->textAtOffset(offset, QAccessible::LineBoundary, &start, &end);
        }));
        caret.push_back(microseconds([&] { text->cursorPosition(); }));
        rects.push_back(microseconds([&] { text->characterRect(offset); }));
    }
    std::printf("display=%s characters=%d lines=%lld first_count_us=%.1f first_line_us=%.1f "
                "count_us=%.2f text_80_us=%.1f word_us=%.1f line_us=%.1f caret_us=%.2f "
                "char_rect_us=%.1f\n",
                name, count, static_cast<long long>(memo->text().lineCount()), firstCount,
                firstLine, median(counts), median(ranges), median(words), median(lines),
                median(caret), median(rects));
    std::fflush(stdout);
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qsizetype mib = argc > 1 ? QByteArray(argv[1]).toLongLong() : 10;
    Forms::createAll();
    Form1->show();
    TrafficView *memo = Form1->memo1();

    fill(memo, mib << 20, true);
    measure("lines", memo);
    memo->clear();
    fill(memo, mib << 20, false);
    measure("one_line", memo);
    Forms::destroyAll();
    return 0;
}
