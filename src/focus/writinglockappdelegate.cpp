#include "focus/writinglockappdelegate.h"

#include "focus/writinglockstate.h"
#include "foundation/paths.h"
#include "model/postsmodel.h"

#include <QtGlobal>

namespace focus {

bool WritingLockAppDelegate::applicationShouldTerminate() const
{
    const bool alerts = !foundation::paths::isTestRun();
    if (model::PostsModel *posts = model::PostsModel::current(); posts && !posts->flushAll()) {
        if (alerts && showRefusal)
            showRefusal(posts->lastError().value_or(QString()));
        return false;
    }
    if (WritingLockState *lock = WritingLockState::current(); lock && lock->isLocked())
        return alerts && confirmEndingBlock && confirmEndingBlock();
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
