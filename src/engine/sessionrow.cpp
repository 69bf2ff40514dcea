#include "engine/sessionrow.h"

namespace engine {

SessionRow::Content SessionRow::agentReply(QString text)
{
    if (text.startsWith(QLatin1String("Operation interrupted:")))
        return Text{std::move(text), Speaker::system, NoticeKind::interrupted};
    return Text{std::move(text), Speaker::agent, NoticeKind::plain};
}

std::optional<QString> SessionRow::lastAgentText(const QList<SessionRow> &rows)
{
    for (auto it = rows.crbegin(); it != rows.crend(); ++it) {
        const auto *text = std::get_if<Text>(&it->content);
        if (!text || text->speaker != Speaker::agent || text->notice != NoticeKind::plain)
            continue;
        const QString trimmed = text->text.trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    return std::nullopt;
}

} // namespace engine
