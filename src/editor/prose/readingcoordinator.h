#pragma once
// What the reading view decides without a web view: when to paint, where the
// entry scroll goes, which navigations and links pass, and what the page's
// messages do to the editor's caret.

#include "editor/prose/readingpresenter.h"

#include <QJsonValue>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace editor {

// The caret hand-over between the editor screen and the reading view; the
// editor keeps it across flips.
struct ReadingStateBox {
    // Where the caret stood when reading began (UTF-16 units).
    std::optional<qint64> entryLocation;
    // The start of the block last reported at the top of the page.
    std::optional<qint64> topSourceLocation;
};

namespace ReadingPage {

// The scheme the reading view serves its pages under: setHtml cannot carry
// pages of 2 MB or more, which a few embedded images reach.
inline constexpr const char *kScheme = "pennora-reading";

// Only pages made here load: a link, a meta refresh, a form or a script
// navigating elsewhere is refused, and so is anything in a subframe.
bool allowsNavigation(const QUrl &url, bool mainFrame, const QUrl &ownPage);

// A link opens outside the application only on the web's own schemes; a
// file or an application's custom scheme never opens from a page.
bool opensLink(const QUrl &url);

// A data-source-line value: an optional sign and decimal digits only.
std::optional<qint64> parseLine(QStringView text);

// The script that scrolls the first element stamped line to 24 CSS px below
// the top of the viewport; nothing moves when no element has that line.
QString entryScrollScript(qint64 line);

} // namespace ReadingPage

// The reading view's state between paints: the key and blocks of the text
// last painted and the entry scroll still to do.
class ReadingCoordinator {
public:
    // What a message from the page asks for.
    struct Effect {
        enum class Kind { none, editAt, topAt, open };
        Kind kind = Kind::none;
        qint64 location = 0;
        QUrl url;
        bool operator==(const Effect &) const = default;
    };

    // The line of the block that holds caret; a caret on a blank separator
    // goes to the next block; none without a caret or after the last block.
    static std::optional<qint64> sourceLineForCaret(const QList<ReadingPresenter::Block> &blocks,
                                                    std::optional<qint64> caret);

    // Whether text under generation differs from what was painted last.
    bool needsPaint(qint64 generation, const QString &text) const;
    // Starts a paint: the new key and blocks, the entry line still to scroll
    // to once the page has loaded. Answers the key.
    QString beginPaint(qint64 generation, const QString &text, std::optional<qint64> entryCaret);
    // The first finished load of a paint: the entry line, once.
    std::optional<qint64> loadFinished();

    // "sourceClick", "sourceScroll" and "openLink" with their bodies; every
    // other name, a body that is not a string, an unknown or unparsable
    // line and a link that does not open ask for nothing.
    Effect message(const QString &name, const QJsonValue &body) const;

    const QString &loadedKey() const { return m_loadedKey; }
    const QList<ReadingPresenter::Block> &blocks() const { return m_blocks; }
    bool painted() const { return m_painted; }

private:
    QString m_loadedKey;
    QList<ReadingPresenter::Block> m_blocks;
    std::optional<qint64> m_pendingEntryScrollLine;
    bool m_painted = false;
};

} // namespace editor
