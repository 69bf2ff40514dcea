#include "editor/prose/prosehighlighter.h"

#include "editor/prose/prosedocumentlayout.h"
#include "editor/prose/prosestyle.h"
#include "editor/prose/spellchecker.h"

#include <QTextDocument>

namespace editor {

using namespace ProsePresenter;

namespace {

quint32 keyOf(const Look &look)
{
    return quint32(look.face) | quint32(look.ink) << 8 | quint32(look.codeBackground) << 16 | quint32(look.link) << 17;
}

BlockState stateBefore(const QTextBlock &block)
{
    const QTextBlock previous = block.previous();
    return previous.isValid() ? BlockState::fromInt(previous.userState()) : BlockState{};
}

} // namespace

ProseHighlighter::ProseHighlighter(QTextDocument *document) : QSyntaxHighlighter(document) {}

StyledBlock ProseHighlighter::styledBlock(const QTextBlock &block) const
{
    return ProsePresenter::styleBlock(block.text(), stateBefore(block));
}

const QTextCharFormat &ProseHighlighter::formatOf(const Look &look)
{
    const quint32 key = keyOf(look);
    auto it = m_formats.find(key);
    if (it == m_formats.end())
        it = m_formats.insert(key, charFormat(look));
    return it.value();
}

void ProseHighlighter::setSpellChecker(SpellChecker *checker)
{
    if (checker == m_spellChecker)
        return;
    m_spellChecker = checker;
    rehighlight();
}

void ProseHighlighter::underlineMisspellings(const QString &text, const StyledBlock &styled)
{
    for (const StyledLine &line : styled.lines) {
        if (line.kind == LineKind::code || line.kind == LineKind::fence)
            continue;
        const qsizetype offset = line.line.start;
        for (const foundation::text::Range &word : m_spellChecker->misspellings(line.line.text)) {
            // Code spans and link targets are not prose.
            const std::optional<Look> look = line.lookAt(offset + word.start);
            if (!look || look->face == Face::mono || look->link)
                continue;
            for (qsizetype i = offset + word.start; i < offset + word.end() && i < text.size(); ++i) {
                QTextCharFormat format = this->format(int(i));
                format.setUnderlineStyle(QTextCharFormat::SpellCheckUnderline);
                format.setUnderlineColor(misspellingColour());
                setFormat(int(i), 1, format);
            }
        }
    }
}

void ProseHighlighter::highlightBlock(const QString &text)
{
    ++m_highlighted;
    const StyledBlock styled = ProsePresenter::styleBlock(text, BlockState::fromInt(previousBlockState()));
    for (const StyledLine &line : styled.lines) {
        for (const Run &run : line.runs) {
            // The block's text has no paragraph separator: runs stop at its end.
            const qsizetype length = std::min(run.length, text.size() - run.start);
            if (length > 0)
                setFormat(int(run.start), int(length), formatOf(run.look));
        }
    }
    if (m_spellChecker)
        underlineMisspellings(text, styled);
    setCurrentBlockState(styled.after.toInt());

    // The block's metrics for the document layout. A block whose formats
    // changed is laid out again anyway; one whose metrics alone changed (or an
    // empty block, which has no formats) is marked here.
    const BlockMetrics metrics =
        styled.lines.isEmpty() ? paragraphStyle(LineKind::blank) : blockMetrics(styled.lines.first());
    const auto *old = dynamic_cast<const ProseBlockData *>(currentBlockUserData());
    if (old && old->metrics == metrics)
        return;
    setCurrentBlockUserData(new ProseBlockData(metrics));
    if (old || text.isEmpty()) {
        const QTextBlock block = currentBlock();
        document()->markContentsDirty(block.position(), block.length());
    }
}

} // namespace editor
