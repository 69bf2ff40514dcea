#include "publish/senddraft.h"

#include "foundation/error.h"
#include "foundation/fs.h"
#include "foundation/text.h"
#include "library/frontmatter.h"
#include "library/piececontents.h"
#include "library/poststore.h"
#include "model/postsmodel.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace publish::Micropub {

namespace {

Q_LOGGING_CATEGORY(sendLog, "com.quendalstudio.Pennora.micropub")

const QString kPostFileName = QStringLiteral("post.md");

bool needsAngleBrackets(const QString &url)
{
    return std::any_of(url.cbegin(), url.cend(), [](QChar c) {
        return c == u'(' || c == u')' || c == u'<' || c == u'>' || c == u' ' || c == u'\t';
    });
}

// The open piece as the send sees it before anything goes: its id and Home,
// or the refusal.
std::variant<std::pair<QString, QString>, QString> openSavedPiece(model::PostsModel &posts)
{
    const QString refusal = QString::fromUtf8(kNoSavedPost);
    const model::EditorSession *session = posts.session();
    if (!session || session->target().kind() != model::SessionTarget::Kind::post)
        return refusal;
    const QString id = session->target().id();
    const std::optional<QString> &home = posts.watchedHome();
    if (!home || posts.selectedPostID() != id || session->target().home() != *home || posts.draft()
        || posts.externalSession() || posts.outlineGuardPieceID())
        return refusal;
    return std::pair(id, *home);
}

} // namespace

const QRegularExpression *illustrationPattern()
{
    static const QRegularExpression pattern(
        QStringLiteral(R"re(!\[([^\]\n]*)\]\((assets/[^\s)]+)(?:\s+"[^"]*")?\))re"));
    return pattern.isValid() ? &pattern : nullptr;
}

QList<Illustration> illustrations(const QString &markdown)
{
    QList<Illustration> found;
    const QRegularExpression *pattern = illustrationPattern();
    if (!pattern)
        return found;
    for (auto it = pattern->globalMatch(markdown); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        found.append({match.captured(1), match.captured(2)});
    }
    return found;
}

QString rewriteIllustrations(const QString &markdown, const QHash<QString, QString> &hosted)
{
    const QRegularExpression *pattern = illustrationPattern();
    if (!pattern)
        return markdown;
    QString out;
    qsizetype copied = 0;
    for (auto it = pattern->globalMatch(markdown); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const auto url = hosted.constFind(match.captured(2));
        if (url == hosted.cend())
            continue;
        out += QStringView(markdown).sliced(copied, match.capturedStart() - copied);
        out += u"!["_s + match.captured(1) + u"]("_s + (needsAngleBrackets(*url) ? u'<' + *url + u'>' : *url) + u')';
        copied = match.capturedEnd();
    }
    if (copied == 0)
        return markdown;
    out += QStringView(markdown).sliced(copied);
    return out;
}

QString unreadableText(const QString &destination)
{
    return u"Couldn't read "_s + destination + u" from this piece's assets."_s;
}

std::variant<QList<Payload>, QString> checkIllustrations(const QString &pieceFolder, const QList<Illustration> &found)
{
    for (const Illustration &illustration : found) {
        if (foundation::text::isBlank(illustration.alt))
            return illustration.destination + QString::fromUtf8(kNoAltText);
    }
    const QString root = QFileInfo(pieceFolder).canonicalFilePath() + u'/';
    QList<Payload> payloads;
    QSet<QString> seen;
    for (const Illustration &illustration : found) {
        const QString &destination = illustration.destination;
        if (seen.contains(destination))
            continue;
        seen.insert(destination);
        const std::optional<QString> type = mimeType(destination);
        if (!type)
            return destination + QString::fromUtf8(kUnsupportedType);
        // A missing file has no canonical path; ".." and links are resolved
        // before the containment test.
        const QString path = QFileInfo(QDir(pieceFolder).filePath(destination)).canonicalFilePath();
        if (root.size() < 2 || path.isEmpty() || !path.startsWith(root))
            return unreadableText(destination);
        QFile file(path);
        if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
            return unreadableText(destination);
        payloads.append({destination, *type, path});
    }
    return payloads;
}

QCoro::Task<std::variant<QString, Outcome>> uploadIllustrations(const Client &client, QList<Payload> payloads,
                                                                QString body, QString token)
{
    QCoro::Task<MediaResult> asking = client.mediaEndpoint(token);
    const MediaResult media = co_await asking;
    if (!media.url)
        co_return media.failed;
    const QUrl endpoint(*media.url, QUrl::StrictMode);
    QHash<QString, QString> hosted;
    for (const Payload &payload : payloads) {
        const Request request = client.uploadRequest(endpoint, uploadFileName(payload.destination), payload.mimeType,
                                                     payload.path, token, unreadableText(payload.destination));
        Response response;
        try {
            QCoro::Task<Response> performing = client.perform(request);
            response = co_await performing;
        } catch (const RefusedRequest &refusal) {
            co_return Outcome::refused(refusal.message());
        } catch (const std::exception &error) {
            co_return Outcome::unreachable(foundation::describe(error));
        }
        if (response.status < 200 || response.status > 299)
            co_return failureOutcome(response.status, response.body);
        const std::optional<QString> url = createdURL(endpoint, response);
        if (!url)
            co_return Outcome::requestFailed(response.status, QString::fromUtf8(kNoTrustworthyUploadURL));
        hosted.insert(payload.destination, *url);
    }
    co_return rewriteIllustrations(body, hosted);
}

QCoro::Task<DraftSend> sendDraft(model::PostsModel &posts, QString token, Client client)
{
    // Everything of the model is read before the first transfer.
    const auto piece = openSavedPiece(posts);
    if (const QString *refusal = std::get_if<QString>(&piece))
        co_return DraftSend{Outcome::refused(*refusal), {}};
    const auto [id, home] = std::get<std::pair<QString, QString>>(piece);

    if (posts.isSessionOpen(id) && !posts.flushSession(*posts.session()))
        co_return DraftSend{Outcome::refused(posts.lastError().value_or(QString::fromUtf8(kCouldNotSave))), {}};

    const std::optional<QString> folder = library::PostStore::folderPath(id, home);
    QString text;
    try {
        if (!folder)
            throw foundation::Error(QString::fromUtf8(kCouldNotRead));
        text = foundation::fs::readUtf8File(QDir(*folder).filePath(kPostFileName));
    } catch (const std::exception &) {
        co_return DraftSend{Outcome::refused(QString::fromUtf8(kCouldNotRead)), {}};
    }

    QString content = library::PostFrontmatter::splitFrontmatter(text).body;
    if (foundation::text::isBlank(content))
        co_return DraftSend{Outcome::refused(QString::fromUtf8(kNoText)), {}};

    if (const QList<Illustration> found = illustrations(content); !found.isEmpty()) {
        const auto checked = checkIllustrations(*folder, found);
        if (const QString *refusal = std::get_if<QString>(&checked))
            co_return DraftSend{Outcome::refused(*refusal), {}};
        QCoro::Task<std::variant<QString, Outcome>> uploading =
            uploadIllustrations(client, std::get<QList<Payload>>(checked), content, token);
        const std::variant<QString, Outcome> uploaded = co_await uploading;
        if (const Outcome *failure = std::get_if<Outcome>(&uploaded))
            co_return DraftSend{*failure, {}};
        content = std::get<QString>(uploaded);
    }

    const QString title = library::PostFrontmatter::deriveTitle(text);
    QCoro::Task<Outcome> sending = client.send(client.createDraftRequest(title, content, token), true);
    const Outcome outcome = co_await sending;
    if (outcome.which != Outcome::Case::drafted)
        co_return DraftSend{outcome, {}};
    try {
        library::PostStore::recordMicropubURL(id, outcome.url, home);
    } catch (const std::exception &error) {
        // Without the URL in the piece the next send makes another draft:
        // the writer is told, and so is the log.
        const QString reason = foundation::describe(error);
        qCWarning(sendLog).noquote() << "the draft" << outcome.url << "of" << id
                                     << "could not be recorded in the piece:" << reason;
        co_return DraftSend{outcome, reason};
    }
    co_return DraftSend{outcome, {}};
}

} // namespace publish::Micropub
