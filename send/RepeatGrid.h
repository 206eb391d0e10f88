// SPDX-License-Identifier: MIT
// When a repeated command is due: the n-th send at start + n x period, so that the repeats do not
// drift however late each one goes out. A late send goes at once and the next stays on the
// grid; grid points that passed while a send was held up (a full line, a busy window) are
// skipped, not made up in a burst, and counted.
#pragma once

#include <cstdint>

class RepeatGrid
{
public:
    RepeatGrid(int64_t startUs, int64_t periodUs)
        : m_startUs(startUs), m_periodUs(periodUs > 0 ? periodUs : 1)
    { }

    // When the next send is due (the first is due at the start).
    int64_t dueUs() const { return m_startUs + m_next * m_periodUs; }

    // A send went out at `nowUs`: the next is due at the first grid point after it.
    void sent(int64_t nowUs)
    {
        const int64_t after = nowUs < m_startUs ? 0 : (nowUs - m_startUs) / m_periodUs + 1;
        if (after > m_next + 1)
            m_skipped += after - m_next - 1;
        m_next = after > m_next ? after : m_next + 1;
    }

    int64_t skipped() const { return m_skipped; }

private:
    int64_t m_startUs;
    int64_t m_periodUs;
    int64_t m_next = 0;
    int64_t m_skipped = 0;
};
