#include "capturedlog.h"

namespace testsupport {

std::vector<CapturedLog::Line> *CapturedLog::s_lines = nullptr;

CapturedLog::CapturedLog()
{
    s_lines = &lines;
    m_previous = qInstallMessageHandler(&CapturedLog::handle);
}

CapturedLog::~CapturedLog()
{
    qInstallMessageHandler(m_previous);
    s_lines = nullptr;
}

std::vector<CapturedLog::Line> CapturedLog::linesOf(const QString &category) const
{
    std::vector<Line> out;
    for (const Line &line : lines)
        if (line.category == category)
            out.push_back(line);
    return out;
}

void CapturedLog::handle(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (s_lines)
        s_lines->push_back({type, QString::fromUtf8(context.category), text});
}

} // namespace testsupport
