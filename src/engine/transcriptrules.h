#pragma once
// What a session transcript shows of its rows, decided without a window:
// which rows are visible, which warning is emphasised, how notices read,
// what the composer's keys do, which links open and how wide a writer's
// message may grow.

#include "engine/sessionrow.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>
#include <Qt>

#include <optional>

namespace engine::TranscriptRules {

// Thought and raw-update rows show only with the debug rows.
bool isVisible(const SessionRow &row, bool showsDebugRows);
QList<SessionRow> visibleRows(const QList<SessionRow> &rows, bool showsDebugRows);
// The id of the last visible row; none when nothing is visible.
std::optional<QUuid> lastVisibleRowID(const QList<SessionRow> &rows, bool showsDebugRows);
// The last visible row is emphasised while no turn streams.
bool isEmphasized(const QUuid &rowID, const QList<SessionRow> &rows, bool showsDebugRows, bool isStreaming);

// A warning notice reads as a headline and, after the first ": ", a detail.
struct Warning {
    QString headline;
    std::optional<QString> detail;
    bool operator==(const Warning &) const = default;
};
Warning splitWarning(const QString &text);
// "waiting for model response (2m elapsed)." reads "waiting on the model — 2m".
QString warningDetail(const QString &detail);
// Notices of these kinds are warnings.
bool isWarning(SessionRow::NoticeKind kind);
// The first line of a pass kickoff, its doubled "Pass Pass " said once.
QString kickoffTitle(const QString &text);
// Space above a notice row: an emphasised warning right after a kickoff
// notice stands apart from it.
int noticeTopPadding(bool emphasizedWarning, const SessionRow *previous);

// What a key press in the composer does.
enum class ComposerKey {
    send,           // Return alone: sent, never a line feed
    appendLineFeed, // Shift+Return: a line feed at the end of the draft
    field,          // everything else: the field's own editing
};
ComposerKey composerKey(int key, Qt::KeyboardModifiers modifiers);
QString trimmedDraft(const QString &draft);
// Send while idle with words to send; Stop while a turn streams.
bool canSendOrStop(const QString &draft, bool isStreaming);

// Only web links open from a transcript.
bool isOpenableLink(const QUrl &url);

// The column is at most 720 wide; a writer's message takes at most 85 % of
// the column without its padding.
double contentWidth(double paneWidth);
double userBubbleMaxWidth(double paneWidth);

} // namespace engine::TranscriptRules
