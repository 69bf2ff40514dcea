#include "focus/writinglockappdelegate.h"

#include "focus/writinglockstate.h"
#include "foundation/paths.h"
#include "model/postsmodel.h"

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

} // namespace focus
