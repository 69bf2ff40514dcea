#pragma once
// The two review Passes, the instruction that opens a Pass and the prompt of a
// Blind Read. The texts are sent to the engine as they are built here; session
// replay recognises a Pass by the instruction's first words ("Pass Pass ").

#include "library/passkind.h"
#include "profiles/settingstypes.h"

#include <QString>
#include <QUrl>

namespace engine {

using library::PassKind;

// "paragraph level and up" / "sentence level and below".
QString scopeWords(PassKind kind);
// The engine profile surface the Pass runs on.
profiles::ProfileSurface surface(PassKind kind);

// The instruction for a Pass on the piece whose post.md is postFile (a file
// URL). includeResearch adds the piece's research folder; callers set it when
// that folder exists.
QString instructionText(PassKind kind, const QUrl &postFile, bool includeResearch);

// The Blind Read prompt: version A is first when firstIsA, else second. Both
// texts are inserted exactly as given.
QString blindReadPrompt(const QString &first, const QString &second, bool firstIsA);

} // namespace engine
