#pragma once
// Puts the prose styling on a QTextDocument as layout formats: nothing it does
// reaches the document's contents or its undo stack. The block state carries
// the fence bit and the "content seen" bit, so Qt restyles the blocks after an
// edit only while their state changes (typing a fence restyles down to where
// the state settles, never the whole text per keystroke).

#include "editor/prose/prosepresenter.h"

#include <QHash>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>

namespace editor {

class SpellChecker;

class ProseHighlighter : public QSyntaxHighlighter {
    Q_OBJECT
public:
    explicit ProseHighlighter(QTextDocument *document);

    // The styled lines of a block as last highlighted (for the layout and the
    // fold layer), or the block styled now when it was never highlighted.
    ProsePresenter::StyledBlock styledBlock(const QTextBlock &block) const;
    // Underlines the words checker calls misspelt (none: no checking), and
    // restyles the whole text when that changes.
    void setSpellChecker(SpellChecker *checker);
    SpellChecker *spellChecker() const { return m_spellChecker; }

    // Blocks highlighted since the last reset: what an edit cost.
    int highlightedBlocks() const { return m_highlighted; }
    void resetHighlightedBlocks() { m_highlighted = 0; }

protected:
    void highlightBlock(const QString &text) override;

private:
    const QTextCharFormat &formatOf(const ProsePresenter::Look &look);
    void underlineMisspellings(const QString &text, const ProsePresenter::StyledBlock &styled);

    QHash<quint32, QTextCharFormat> m_formats;
    int m_highlighted = 0;
    SpellChecker *m_spellChecker = nullptr;
};

} // namespace editor
