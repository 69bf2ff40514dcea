#include "editor/prose/readingcoordinator.h"

#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace editor {

namespace ReadingPage {

bool allowsNavigation(const QUrl &url, bool mainFrame, const QUrl &ownPage)
{
    return mainFrame && ownPage.isValid() && !ownPage.isEmpty() && url == ownPage;
}

bool opensLink(const QUrl &url)
{
    if (!url.isValid())
        return false;
    const QString scheme = url.scheme();
    if (scheme == u"mailto")
        return !url.path().isEmpty();
    return (scheme == u"http" || scheme == u"https") && !url.host().isEmpty();
}

std::optional<qint64> parseLine(QStringView text)
{
    QStringView digits = text;
    if (digits.startsWith(u'+') || digits.startsWith(u'-'))
        digits = digits.sliced(1);
    if (digits.isEmpty())
        return std::nullopt;
    for (QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
    }
    bool ok = false;
    const qint64 value = text.toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(value) : std::nullopt;
}

QString entryScrollScript(qint64 line)
{
    return u"(function(line){"
           "var all = document.querySelectorAll('[data-source-line]');"
           "for (var i = 0; i < all.length; i++) {"
           "if (parseInt(all[i].getAttribute('data-source-line'), 10) === line) {"
           "window.scrollTo(window.scrollX, all[i].getBoundingClientRect().top + window.scrollY - 24);"
           "return;"
           "}"
           "}"
           "})("_s
           + QString::number(line) + u");"_s;
}

} // namespace ReadingPage

std::optional<qint64> ReadingCoordinator::sourceLineForCaret(const QList<ReadingPresenter::Block> &blocks,
                                                             std::optional<qint64> caret)
{
    if (!caret || blocks.isEmpty())
        return std::nullopt;
    for (const ReadingPresenter::Block &block : blocks) {
        if (block.sourceRange.start <= *caret && *caret < block.sourceRange.end())
            return block.sourceLine;
    }
    for (const ReadingPresenter::Block &block : blocks) {
        if (block.sourceRange.start >= *caret)
            return block.sourceLine;
    }
    return std::nullopt;
}

bool ReadingCoordinator::needsPaint(qint64 generation, const QString &text) const
{
    return ReadingPresenter::repaintKey(generation, text) != m_loadedKey;
}

QString ReadingCoordinator::beginPaint(qint64 generation, const QString &text, std::optional<qint64> entryCaret)
{
    m_loadedKey = ReadingPresenter::repaintKey(generation, text);
    m_painted = false;
    m_blocks = ReadingPresenter::blocks(text);
    m_pendingEntryScrollLine = sourceLineForCaret(m_blocks, entryCaret);
    return m_loadedKey;
}

std::optional<qint64> ReadingCoordinator::loadFinished()
{
    if (m_painted)
        return std::nullopt;
    m_painted = true;
    return std::exchange(m_pendingEntryScrollLine, std::nullopt);
}

ReadingCoordinator::Effect ReadingCoordinator::message(const QString &name, const QJsonValue &body) const
{
    if (!body.isString())
        return {};
    if (name == u"openLink") {
        const QUrl url(body.toString(), QUrl::StrictMode);
        if (!ReadingPage::opensLink(url))
            return {};
        return {Effect::Kind::open, 0, url};
    }
    const bool click = name == u"sourceClick";
    if (!click && name != u"sourceScroll")
        return {};
    const std::optional<qint64> line = ReadingPage::parseLine(body.toString());
    if (!line)
        return {};
    for (const ReadingPresenter::Block &block : m_blocks) {
        if (block.sourceLine == *line)
            return {click ? Effect::Kind::editAt : Effect::Kind::topAt, block.sourceRange.start, QUrl()};
    }
    return {};
}

} // namespace editor
