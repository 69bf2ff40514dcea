#pragma once
// Reading a row's context menu in the pane tests: its items' titles, and the
// item of a title.

#include <QAction>
#include <QMenu>
#include <QStringList>
#include <gtest/gtest.h>

namespace testsupport {

// Each item's title, " (disabled)" after a disabled one.
inline QStringList menuTitles(QMenu *menu)
{
    QStringList out;
    for (QAction *action : menu->actions())
        out.append(action->text() + (action->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
    return out;
}

inline QAction *menuAction(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    ADD_FAILURE() << "no item " << title.toStdString();
    return nullptr;
}

} // namespace testsupport
