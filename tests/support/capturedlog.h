#pragma once
// Captures what Qt logs while it lives, so a test can check the lines a
// module logs on purpose.

#include <QString>
#include <QtGlobal>

#include <vector>

namespace testsupport {

class CapturedLog {
public:
    struct Line {
        QtMsgType type;
        QString category;
        QString text;
    };

    CapturedLog();
    ~CapturedLog();
    CapturedLog(const CapturedLog &) = delete;
    CapturedLog &operator=(const CapturedLog &) = delete;

    // The lines of one logging category, in order.
    std::vector<Line> linesOf(const QString &category) const;

    std::vector<Line> lines;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &text);
    static std::vector<Line> *s_lines;
    QtMessageHandler m_previous = nullptr;
};

} // namespace testsupport
