#pragma once
// The reading view as the editor screen knows it: a widget that takes the
// text to show and the caret hand-over. The web surface behind it lives in a
// module of its own, loaded with the first page, so nothing of the web engine
// is mapped before the writer first reads.

#include "editor/prose/readingcoordinator.h"

#include <QStringList>
#include <QWidget>

#include <functional>
#include <optional>

namespace editor {

struct ReadingInputs {
    QString text;
    // Changes whenever the text is loaded anew (0 for a draft).
    qint64 generation = 0;
    // The renderer's base folder for images; none for a draft.
    std::optional<QString> postFolder;
    // Where the editor's caret stood at the flip.
    std::optional<qint64> entryCaretLocation;
    // A click on a block: its start location.
    std::function<void(qint64 location)> onEditIntent;
    ReadingStateBox *stateBox = nullptr;
};

class ReadingView : public QWidget {
public:
    using QWidget::QWidget;
    // Takes the inputs; paints again only when the text or its generation
    // changed.
    virtual void setInputs(ReadingInputs inputs) = 0;
    // The renderer run (tests and benchmarks name the bundled one).
    virtual void setRunner(ReadingPresenter::Runner runner) = 0;
};

using ReadingViewFactory = std::function<ReadingView *(QWidget *parent)>;

// The module's file name and its one entry, which makes a reading view.
inline constexpr const char *kReadingModuleName = "libpennora-reading.so";
inline constexpr const char *kReadingModuleEntry = "pennora_reading_create";

// Loads the module once and makes a view with it; null, with a line in the
// log, when it cannot be loaded. It is looked for in folders, by default
// beside the executable and in lib/pennora/ beside the executable's folder.
ReadingView *loadReadingView(QWidget *parent, const QStringList &folders = {});

} // namespace editor
