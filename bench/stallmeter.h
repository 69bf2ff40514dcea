#pragma once
// The longest time the main thread went without turning its event loop while
// the meter ran: a 1 ms timer notes the gap between its ticks.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <algorithm>

namespace bench {

class StallMeter {
public:
    StallMeter()
    {
        m_tick.setInterval(1);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_longest = std::max(m_longest, m_sinceTick.nsecsElapsed());
            m_sinceTick.restart();
        });
    }
    void start()
    {
        m_sinceTick.start();
        m_tick.start();
    }
    void stop() { m_tick.stop(); }
    double longestMs() const { return double(m_longest) / 1e6; }

private:
    qint64 m_longest = 0;
    QElapsedTimer m_sinceTick;
    QTimer m_tick;
};

} // namespace bench
