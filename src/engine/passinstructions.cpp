#include "engine/passinstructions.h"

namespace engine {

namespace {

// The rules every Pass opens with; the tool names are the tool server's.
const char kRulesText[] =
    "Critique the piece for this pass. "
    "Fact-check claims where needed — research findings travel as candidate source-note tool calls (submit_research_notes), never written to disk. "
    "Deliver the verdict in your reply — findings travel as fix-card tool calls (submit_fix_cards). "
    "Do not write to the piece folder.";

} // namespace

QString scopeWords(PassKind kind)
{
    switch (kind) {
    case PassKind::pass1: return QStringLiteral("paragraph level and up");
    case PassKind::pass2: return QStringLiteral("sentence level and below");
    }
    Q_UNREACHABLE();
    return {};
}

profiles::ProfileSurface surface(PassKind kind)
{
    switch (kind) {
    case PassKind::pass1: return profiles::ProfileSurface::pass1;
    case PassKind::pass2: return profiles::ProfileSurface::pass2;
    }
    Q_UNREACHABLE();
    return profiles::ProfileSurface::pass1;
}

QString instructionText(PassKind kind, const QUrl &postFile, bool includeResearch)
{
    // "Pass Pass 1 — …": the doubled word is what replay looks for.
    QString text = QStringLiteral("Pass ") + kind.rawValue() + QString::fromUtf8(" — ") + scopeWords(kind);
    const QString path = postFile.toLocalFile();
    text += QString::fromUtf8(".\nPiece: ") + path + u'\n';
    if (includeResearch) {
        // The research folder sits beside post.md.
        const QString folder = path.left(path.lastIndexOf(u'/'));
        text += QString::fromUtf8("Research notes: ") + folder + QStringLiteral("/research") + u'\n';
    }
    text += QString::fromUtf8(kRulesText);
    return text;
}

QString blindReadPrompt(const QString &first, const QString &second, bool firstIsA)
{
    const QString &versionA = firstIsA ? first : second;
    const QString &versionB = firstIsA ? second : first;
    return QString::fromUtf8("Blind Read — two versions of one piece. Judge only the text below.\n\n")
           + QStringLiteral("Version A:\n") + versionA + QStringLiteral("\n\nVersion B:\n") + versionB
           + QStringLiteral("\n\n")
           + QString::fromUtf8(
               "Pick the stronger version. Answer with exactly \"A\" or \"B\" and one line why — no rewrites, no fixes.");
}

} // namespace engine
