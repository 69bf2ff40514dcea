#pragma once
// Passes and the Blind Read on the open piece: the checks before a run, the
// snapshot and lint cards a Pass leaves, the mentor's turn, and the pass state
// advanced after it. Owned by PostsModel, which publishes its state.

#include "library/passkind.h"
#include "model/editorsession.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <memory>
#include <optional>

namespace engine {
class MentorSessionModel;
}

namespace model {

class PostsModel;

class PassRunner {
public:
    // What a run works on, taken at its start.
    struct Target {
        QString pieceID;
        std::shared_ptr<EditorSession> session;
        QString home;
    };

    explicit PassRunner(PostsModel &model) : m_model(model) {}
    PassRunner(const PassRunner &) = delete;
    PassRunner &operator=(const PassRunner &) = delete;

    const std::optional<library::PassKind> &runningPass() const { return m_runningPass; }
    bool runningBlindRead() const { return m_runningBlindRead; }

    std::optional<Target> preflight(const QString &action, const engine::MentorSessionModel &mentor);
    QCoro::Task<void> runPass(library::PassKind kind, engine::MentorSessionModel &mentor);
    QCoro::Task<void> runBlindRead(engine::MentorSessionModel &mentor);

private:
    void setRunningPass(const std::optional<library::PassKind> &kind);
    void setRunningBlindRead(bool running);

    PostsModel &m_model;
    std::optional<library::PassKind> m_runningPass;
    bool m_runningBlindRead = false;
};

} // namespace model
