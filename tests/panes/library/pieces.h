#pragma once
// Pieces made up for the library panes' tests, and their titles in order.

#include "library/post.h"

#include <QStringList>

namespace testsupport {

inline library::Post piece(const QString &title, const QString &project = QStringLiteral("Essays"),
                           bool archived = false, library::Post::PassState state = library::Post::PassState::firstDraft)
{
    library::Post post;
    post.id = title.toLower().replace(u' ', u'-');
    post.title = title;
    post.project = project;
    post.isArchived = archived;
    post.passState = state;
    return post;
}

inline QStringList titles(const QList<library::Post> &posts)
{
    QStringList out;
    for (const library::Post &post : posts)
        out.append(post.title);
    return out;
}

} // namespace testsupport
