#include "focus/writinglockappdelegate.h"

#include "focus/writinglockstate.h"
#include "foundation/paths.h"
#include "model/postsmodel.h"

#include <QtGlobal>

namespace focus {

bool WritingLockAppDelegate::applicationShouldTerminate() const
{
    if (model::PostsModel *posts = model::PostsModel::current(); posts && !posts->flushAll()) {
        if (!foundation::paths::isTestRun() && showRefusal) {
            const QString error = posts->lastError().value_or(QString());
            showRefusal(error.isEmpty() ? quitStoppedFallback() : error);
        }
        return false;
    }
    WritingLockState *lock = WritingLockState::current();
    if (!lock || !lock->isLocked())
        return true;
    if (!confirmEndingBlock || !confirmEndingBlock())
        return false;
    // The goal may have completed while the question was up; then the kiosk
    // is already left and this does nothing.
    if (WritingLockState *still = WritingLockState::current())
        still->walkAway();
    return true;
}

void WritingLockAppDelegate::prepareQuitBySignal(int signalNumber) const
{
    model::PostsModel *posts = model::PostsModel::current();
    if (!posts || posts->flushAll())
        return;
    for (model::EditorSession *session : {posts->externalSession(), posts->session()}) {
        if (!session || !session->holdsUnsavedText())
            continue;
        try {
            const QString copy = session->writeConflictCopy();
            qWarning("Quitting on signal %d: the open text could not be saved in place, so its file was left as it "
                     "is and the editor's text was written to %s",
                     signalNumber, qUtf8Printable(copy));
        } catch (const std::exception &error) {
            qWarning("Quitting on signal %d: the editor's text could not be written beside its file in %s: %s",
                     signalNumber, qUtf8Printable(session->folderPath()), error.what());
        }
    }
}

} // namespace focus
