#pragma once
// Cuts a byte stream into lines at LF with a bounded buffer: the framing of
// both JSON-RPC peers (the tool server's input and the engine's output).
//
// A line is handed over without its LF and without one CR right before it. A
// line longer than maxBytes is never held whole: its bytes are dropped as they
// arrive and it is reported once, as overlong, when its LF (or the end of the
// input) comes. Only the new bytes of each chunk are searched, so a long line
// arriving in small chunks costs linear time.

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

namespace foundation {

class LineFramer {
public:
    using LineHandler = std::function<void(QByteArrayView line)>;
    using OverlongHandler = std::function<void()>;

    explicit LineFramer(qsizetype maxBytes) : m_maxBytes(maxBytes) {}

    void feed(QByteArrayView chunk, const LineHandler &onLine, const OverlongHandler &onOverlong = {});
    // The end of the input: an unfinished line is handed over as it stands.
    void finish(const LineHandler &onLine, const OverlongHandler &onOverlong = {});

    // Bytes of an unfinished line held now (at most maxBytes + 1).
    qsizetype bufferedBytes() const { return m_buffer.size(); }

private:
    void deliver(QByteArrayView line, bool atLineFeed, const LineHandler &onLine, const OverlongHandler &onOverlong);

    qsizetype m_maxBytes;
    QByteArray m_buffer;
    bool m_overlong = false;
};

} // namespace foundation
