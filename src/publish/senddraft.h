#pragma once
// Sending the open piece to the blog service as a new draft: the checks that
// a saved piece is open, its save, the body split from the front matter, the
// piece's images checked here, uploaded one by one and pointed at in the text
// that is sent (never on disk), the draft itself, and its URL recorded in the
// piece's front matter.

#include "publish/micropub.h"

#include <QCoro/QCoroTask>
#include <QHash>
#include <QList>
#include <QString>
#include <optional>
#include <variant>

class QRegularExpression;

namespace model {
class PostsModel;
}

namespace publish::Micropub {

inline constexpr const char *kNoSavedPost = "Open a saved post to publish.";
inline constexpr const char *kCouldNotSave = "Couldn't save the piece before sending.";
inline constexpr const char *kCouldNotRead = "Couldn't read the piece before sending.";
inline constexpr const char *kNoText = "This piece has no text to send.";
inline constexpr const char *kNoAltText = " has no alt text — a photo never ships without it.";
inline constexpr const char *kUnsupportedType = " is not a PNG/JPEG/GIF/WebP/SVG — Micro.blog can't host it.";

// One image reference of the Markdown into the piece's assets/.
struct Illustration {
    QString alt;
    // As written, always beginning "assets/".
    QString destination;

    bool operator==(const Illustration &) const = default;
};

// The image reference: ![alt](assets/… "optional title"). None when it could
// not be compiled, and then nothing is found or rewritten.
const QRegularExpression *illustrationPattern();

// Every reference in order, duplicates kept.
QList<Illustration> illustrations(const QString &markdown);

// Each reference whose destination has a hosted URL becomes ![alt](url), the
// URL in angle brackets when it holds "(", ")", "<", ">", a space or a tab;
// a title goes. Everything else stays as it was.
QString rewriteIllustrations(const QString &markdown, const QHash<QString, QString> &hosted);

// One distinct image, checked and ready to stream from disk.
struct Payload {
    QString destination;
    QString mimeType;
    // The file, symbolic links resolved.
    QString path;

    bool operator==(const Payload &) const = default;
};

// "Couldn't read <destination> from this piece's assets."
QString unreadableText(const QString &destination);

// The checks before anything is sent: every reference's alt text, then for
// each distinct destination in first-appearance order its type, that it
// stays inside the piece folder with links resolved, and that it opens for
// reading. The payloads, or the refusal's text.
std::variant<QList<Payload>, QString> checkIllustrations(const QString &pieceFolder, const QList<Illustration> &found);

// Asks for the media endpoint once and uploads each payload in order,
// streamed from disk; the body rewritten to the hosted URLs, or the failure
// that ended it (nothing after a failure is sent).
QCoro::Task<std::variant<QString, Outcome>> uploadIllustrations(const Client &client, QList<Payload> payloads,
                                                                QString body, QString token);

// What a send came to. A draft whose URL could not be written into the piece
// carries why.
struct DraftSend {
    Outcome outcome;
    std::optional<QString> unrecorded;

    bool operator==(const DraftSend &) const = default;
};

// The whole send of the open piece as a new draft. The model is read and
// flushed before the first transfer and never touched after it, so a send
// outlives whatever started it; a completed draft records its URL in the
// piece's front matter. Never answers published.
QCoro::Task<DraftSend> sendDraft(model::PostsModel &posts, QString token, Client client);

} // namespace publish::Micropub
