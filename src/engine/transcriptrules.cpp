#include "engine/transcriptrules.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace engine::TranscriptRules {

bool isVisible(const SessionRow &row, bool showsDebugRows)
{
    return showsDebugRows
           || !(std::holds_alternative<SessionRow::Thought>(row.content)
                || std::holds_alternative<SessionRow::Raw>(row.content));
}

QList<SessionRow> visibleRows(const QList<SessionRow> &rows, bool showsDebugRows)
{
    QList<SessionRow> visible;
    visible.reserve(rows.size());
    std::copy_if(rows.cbegin(), rows.cend(), std::back_inserter(visible),
                 [&](const SessionRow &row) { return isVisible(row, showsDebugRows); });
    return visible;
}

std::optional<QUuid> lastVisibleRowID(const QList<SessionRow> &rows, bool showsDebugRows)
{
    const auto last = std::find_if(rows.crbegin(), rows.crend(),
                                   [&](const SessionRow &row) { return isVisible(row, showsDebugRows); });
    if (last == rows.crend())
        return std::nullopt;
    return last->id;
}

bool isEmphasized(const QUuid &rowID, const QList<SessionRow> &rows, bool showsDebugRows, bool isStreaming)
{
    return !isStreaming && lastVisibleRowID(rows, showsDebugRows) == rowID;
}

Warning splitWarning(const QString &text)
{
    const qsizetype separator = text.indexOf(": "_L1);
    if (separator < 0)
        return {text, std::nullopt};
    return {text.left(separator), warningDetail(text.mid(separator + 2))};
}

QString warningDetail(const QString &detail)
{
    static const QString opening = u"waiting for model response ("_s;
    static const QString closing = u" elapsed)"_s;
    const QString s = detail.endsWith(u'.') ? detail.chopped(1) : detail;
    if (s.size() > opening.size() + closing.size() && s.startsWith(opening) && s.endsWith(closing))
        return u"waiting on the model — "_s + s.mid(opening.size(), s.size() - opening.size() - closing.size());
    return detail;
}

bool isWarning(SessionRow::NoticeKind kind)
{
    using Kind = SessionRow::NoticeKind;
    return kind == Kind::interrupted || kind == Kind::connectionLost || kind == Kind::failed;
}

QString kickoffTitle(const QString &text)
{
    static const QString doubled = u"Pass Pass "_s;
    const qsizetype lineEnd = text.indexOf(u'\n');
    const QString line = lineEnd < 0 ? text : text.left(lineEnd);
    return line.startsWith(doubled) ? u"Pass "_s + line.mid(doubled.size()) : line;
}

int noticeTopPadding(bool emphasizedWarning, const SessionRow *previous)
{
    if (!emphasizedWarning || !previous)
        return 0;
    const auto *text = std::get_if<SessionRow::Text>(&previous->content);
    return text && text->notice == SessionRow::NoticeKind::kickoff ? 8 : 0;
}

ComposerKey composerKey(int key, Qt::KeyboardModifiers modifiers)
{
    if (key != Qt::Key_Return && key != Qt::Key_Enter)
        return ComposerKey::field;
    // The keypad's Enter carries the keypad flag, which is no modifier key.
    const Qt::KeyboardModifiers held = modifiers & ~Qt::KeypadModifier;
    if (held == Qt::NoModifier)
        return ComposerKey::send;
    if (held == Qt::ShiftModifier)
        return ComposerKey::appendLineFeed;
    return ComposerKey::field;
}

QString trimmedDraft(const QString &draft)
{
    return draft.trimmed();
}

bool canSendOrStop(const QString &draft, bool isStreaming)
{
    return isStreaming || !trimmedDraft(draft).isEmpty();
}

bool isOpenableLink(const QUrl &url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && (scheme == "http"_L1 || scheme == "https"_L1);
}

double contentWidth(double paneWidth)
{
    return std::min(paneWidth, 720.0);
}

double userBubbleMaxWidth(double paneWidth)
{
    return std::max(0.0, (contentWidth(paneWidth) - 32.0) * 0.85);
}

} // namespace engine::TranscriptRules
