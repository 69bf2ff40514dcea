#pragma once
// The way from a drop on the window to the live prose text view. The prose
// editor registers its text view while it is on screen; the root state hands
// it the files that are not a Markdown file to open.

#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>

namespace editor {

// What the prose text view offers to drops routed from outside.
class ProseDropTarget {
public:
    virtual ~ProseDropTarget() = default;
    // Takes the dropped files; false when it refused them (it shows why).
    virtual bool ingestDrop(const QList<QUrl> &urls) = 0;
};

class ProseDropBridge {
public:
    // A weak reference: a text view that goes away is simply gone.
    template<typename View>
    void setTextView(View *view)
    {
        m_view = view;
        m_target = view;
    }
    void clearTextView()
    {
        m_view = nullptr;
        m_target = nullptr;
    }
    // The live text view's drop target; null when none is on screen.
    ProseDropTarget *textView() const { return m_view ? m_target : nullptr; }

private:
    QPointer<QObject> m_view;
    ProseDropTarget *m_target = nullptr;
};

} // namespace editor
