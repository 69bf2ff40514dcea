#pragma once
// A temporary Home whose pieces live in projects/Essays, and editing
// sessions on them, for the prose editor's widget tests.

#include "model/editorsession.h"

#include "testutil.h"

#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <memory>

namespace testsupport {

class PieceHome {
public:
    static inline const QByteArray frontMatter = "---\ntype: post\npass_state: First Draft\norigin: writer\n---\n";

    PieceHome() { QDir().mkpath(home + "/projects"); }

    QString postPath(const QString &id) const { return home + "/projects/Essays/" + id + "/post.md"; }
    // post.md of id with the front matter above body.
    void piece(const QString &id, const QByteArray &body) { writeFile(postPath(id), frontMatter + body); }
    std::unique_ptr<model::EditorSession> open(const QString &id, std::chrono::milliseconds debounce)
    {
        return std::make_unique<model::EditorSession>(model::SessionTarget::post(id, home), debounce);
    }

    QTemporaryDir dir;
    QString home = dir.path() + "/Home";
};

} // namespace testsupport
