#include "foundation/lineframer.h"

namespace foundation {

void LineFramer::deliver(QByteArrayView line, bool atLineFeed, const LineHandler &onLine,
                         const OverlongHandler &onOverlong)
{
    if (atLineFeed && line.endsWith('\r'))
        line.chop(1);
    if (line.size() > m_maxBytes) {
        if (onOverlong)
            onOverlong();
        return;
    }
    onLine(line);
}

void LineFramer::feed(QByteArrayView chunk, const LineHandler &onLine, const OverlongHandler &onOverlong)
{
    // One byte of slack past the limit holds a CR that may still turn out to
    // be part of the line's end.
    const qsizetype capacity = m_maxBytes + 1;
    while (!chunk.isEmpty()) {
        const qsizetype lf = chunk.indexOf('\n');
        const QByteArrayView segment = lf < 0 ? chunk : chunk.first(lf);
        if (!m_overlong) {
            if (m_buffer.size() + segment.size() > capacity) {
                m_overlong = true;
                m_buffer.clear();
                m_buffer.squeeze();
            } else if (lf >= 0 && m_buffer.isEmpty()) {
                // A whole line inside the chunk goes out without a copy.
                deliver(segment, true, onLine, onOverlong);
                chunk = chunk.sliced(lf + 1);
                continue;
            } else {
                m_buffer.append(segment);
            }
        }
        if (lf < 0)
            return;
        if (m_overlong) {
            m_overlong = false;
            if (onOverlong)
                onOverlong();
        } else {
            const QByteArray line = std::exchange(m_buffer, QByteArray());
            deliver(line, true, onLine, onOverlong);
        }
        chunk = chunk.sliced(lf + 1);
    }
}

void LineFramer::finish(const LineHandler &onLine, const OverlongHandler &onOverlong)
{
    if (m_overlong) {
        m_overlong = false;
        if (onOverlong)
            onOverlong();
        return;
    }
    if (m_buffer.isEmpty())
        return;
    const QByteArray line = std::exchange(m_buffer, QByteArray());
    deliver(line, false, onLine, onOverlong);
}

} // namespace foundation
