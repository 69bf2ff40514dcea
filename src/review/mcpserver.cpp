#include "mcpserver.h"

#include "fixcardstore.h"
#include "toolpayloads.h"

#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/jsonvalue.h"
#include "foundation/lineframer.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <poll.h>
#include <vector>

namespace review::MCPServer {
namespace {

void writeLine(int fd, QByteArray line)
{
    line.append('\n');
    // A full non-blocking pipe is waited on, so no reply is cut mid-line. A
    // peer that went away is not our concern: the loop ends with its input.
    foundation::fs::writeAll(fd, line);
}

QJsonObject error(int code, const char *message)
{
    return QJsonObject{{QStringLiteral("code"), code}, {QStringLiteral("message"), QString::fromUtf8(message)}};
}

QJsonObject textContent(const QString &text)
{
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}};
}

QJsonObject stringProperty(const QString &description = {})
{
    QJsonObject p{{QStringLiteral("type"), QStringLiteral("string")}};
    if (!description.isEmpty())
        p.insert(QStringLiteral("description"), description);
    return p;
}

QJsonArray strings(std::initializer_list<const char *> items)
{
    QJsonArray a;
    for (const char *item : items)
        a.append(QString::fromUtf8(item));
    return a;
}

QString protocolVersion(const QJsonObject &params)
{
    const QJsonValue asked = params.value(QStringLiteral("protocolVersion"));
    if (asked.isString()) {
        for (const char *version : kSupportedProtocolVersions) {
            if (asked.toString() == QLatin1String(version))
                return asked.toString();
        }
    }
    return QString::fromLatin1(kLatestProtocolVersion);
}

QJsonObject queryLearnings(const QJsonObject &arguments)
{
    const LearningsArgs args = LearningsArgs::decode(arguments);
    QJsonArray learnings;
    for (const FixCardStore::LearningFile &learning : FixCardStore::learningsForPiece(args.piecePath))
        learnings.append(
            QJsonObject{{QStringLiteral("file"), learning.fileName}, {QStringLiteral("markdown"), learning.text}});
    return QJsonObject{{QStringLiteral("learnings"), learnings}};
}

QJsonObject submitFixCards(const QJsonObject &arguments)
{
    const auto submission = ToolPayloads::decodeFixCardSubmission(foundation::JSONValue::fromFoundation(arguments));
    const QList<FixCardStore::CardFile> written = FixCardStore::write(submission.piecePath, submission.inputs);
    QJsonArray cards;
    for (const FixCardStore::CardFile &file : written) {
        const bool stale = file.card.anchorStatus == FixCardStore::StoredFixCard::AnchorStatus::stale;
        cards.append(
            QJsonObject{{QStringLiteral("file"), file.fileName},
                        {QStringLiteral("anchor_status"), stale ? QStringLiteral("stale") : QStringLiteral("valid")}});
    }
    QJsonObject answer{{QStringLiteral("cards"), cards}};
    const qsizetype dropped = submission.inputs.size() - written.size();
    if (dropped > 0)
        answer.insert(QStringLiteral("dropped_over_ceiling"), dropped);
    return answer;
}

QJsonObject submitResearchNotes(const QJsonObject &arguments)
{
    const qint64 received =
        ToolPayloads::decodeResearchNoteSubmission(foundation::JSONValue::fromFoundation(arguments));
    return QJsonObject{{QStringLiteral("received"), received}};
}

} // namespace

namespace detail {

QByteArray checkedReply(const QByteArray &serialised)
{
    if (!serialised.isEmpty() && QByteArrayView(serialised).isValidUtf8())
        return serialised;
    static const char note[] = "pennora-tools: reply serialization failed\n";
    foundation::fs::writeAll(STDERR_FILENO, QByteArrayView(note, sizeof note - 1));
    return QByteArray(kFallbackReply);
}

} // namespace detail

QByteArray resultReply(const std::optional<QJsonValue> &id, const QJsonObject &result)
{
    const QJsonObject reply{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                            {QStringLiteral("id"), id.value_or(QJsonValue(QJsonValue::Null))},
                            {QStringLiteral("result"), result}};
    return detail::checkedReply(foundation::json::compact(reply));
}

QByteArray errorReply(const QJsonObject &error, const QJsonValue &id)
{
    const QJsonObject reply{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                            {QStringLiteral("id"), id.isUndefined() ? QJsonValue(QJsonValue::Null) : id},
                            {QStringLiteral("error"), error}};
    return detail::checkedReply(foundation::json::compact(reply));
}

QByteArray toolErrorReply(const QString &text, const std::optional<QJsonValue> &id)
{
    return resultReply(
        id, QJsonObject{{QStringLiteral("content"), QJsonArray{textContent(text)}}, {QStringLiteral("isError"), true}});
}

QByteArray callTool(const std::optional<QJsonValue> &id, const QJsonObject &params)
{
    const QJsonValue nameValue = params.value(QStringLiteral("name"));
    const QString name = nameValue.isString() ? nameValue.toString() : QString();
    const QJsonValue argumentsValue = params.value(QStringLiteral("arguments"));
    const QJsonObject arguments = argumentsValue.isObject() ? argumentsValue.toObject() : QJsonObject();

    QJsonObject answer;
    try {
        if (name == QLatin1String("query_learnings"))
            answer = queryLearnings(arguments);
        else if (name == QLatin1String("submit_fix_cards"))
            answer = submitFixCards(arguments);
        else if (name == QLatin1String("submit_research_notes"))
            answer = submitResearchNotes(arguments);
        else
            throw FixCardStore::CardError(QStringLiteral("Unknown tool: ") + name);
    } catch (const foundation::Error &e) {
        return toolErrorReply(e.message(), id);
    } catch (const std::exception &e) {
        return toolErrorReply(QString::fromUtf8(e.what()), id);
    }

    QByteArray text = foundation::json::compact(answer);
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString answerText = decoder.decode(text);
    if (text.isEmpty() || decoder.hasError())
        answerText = QStringLiteral("{}");
    return resultReply(id, QJsonObject{{QStringLiteral("content"), QJsonArray{textContent(answerText)}}});
}

QJsonArray toolDefinitions()
{
    const QString pathDescription = QStringLiteral("Path to the piece folder or its post.md.");

    const QJsonObject queryLearnings{
        {QStringLiteral("name"), QStringLiteral("query_learnings")},
        {QStringLiteral("description"),
         QStringLiteral(
             "The piece's visible learnings — raw markdown per file, from <home>/learnings/<type>s/. Dismissed learnings are hidden until their decay interval (base 10 passes, doubling per re-dismiss; a per-Learning resurface_after frontmatter key overrides) elapses.")},
        {QStringLiteral("inputSchema"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("object")},
                     {QStringLiteral("properties"),
                      QJsonObject{{QStringLiteral("piece_path"), stringProperty(pathDescription)}}},
                     {QStringLiteral("required"), strings({"piece_path"})}}}};

    const QJsonObject anchor{
        {QStringLiteral("type"), QStringLiteral("object")},
        {QStringLiteral("required"), strings({"quote"})},
        {QStringLiteral("properties"),
         QJsonObject{{QStringLiteral("quote"), stringProperty(QStringLiteral("Exact substring quoted from the piece."))},
                     {QStringLiteral("occurrence"),
                      QJsonObject{{QStringLiteral("type"), QStringLiteral("integer")},
                                  {QStringLiteral("default"), 1},
                                  {QStringLiteral("description"),
                                   QStringLiteral("1-based occurrence of the quote in the piece.")}}},
                     {QStringLiteral("context"), stringProperty()}}}};

    const QJsonObject provenance{
        {QStringLiteral("type"), QStringLiteral("object")},
        {QStringLiteral("properties"),
         QJsonObject{
             {QStringLiteral("piece"), stringProperty()},
             {QStringLiteral("date"), stringProperty()},
             {QStringLiteral("engine"), stringProperty()},
             {QStringLiteral("pass"),
              QJsonObject{{QStringLiteral("type"), QStringLiteral("integer")},
                          {QStringLiteral("description"),
                           QStringLiteral("Pass number that found the card (1 = structural, 2 = line-level).")}}}}}};

    const QJsonObject card{
        {QStringLiteral("type"), QStringLiteral("object")},
        {QStringLiteral("required"), strings({"pattern", "problem", "anchor", "lane", "emitter"})},
        {QStringLiteral("properties"),
         QJsonObject{
             {QStringLiteral("pattern"), stringProperty()},
             {QStringLiteral("problem"), stringProperty()},
             {QStringLiteral("diagnostic_question"), stringProperty()},
             {QStringLiteral("fix"),
              stringProperty(QStringLiteral(
                  "Mechanical cards: the exact replacement for the anchored span (empty string = cut). Demonstration cards: the demonstration."))},
             {QStringLiteral("anchor"), anchor},
             {QStringLiteral("lane"), QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                                                  {QStringLiteral("enum"), strings({"mechanical", "demonstration"})}}},
             {QStringLiteral("emitter"), QJsonObject{{QStringLiteral("type"), QStringLiteral("string")},
                                                     {QStringLiteral("enum"), strings({"lint", "engine"})}}},
             {QStringLiteral("provenance"), provenance}}}};

    const QJsonObject submitFixCards{
        {QStringLiteral("name"), QStringLiteral("submit_fix_cards")},
        {QStringLiteral("description"),
         QStringLiteral(
             "Persist fix cards for a piece. Anchor-validated against post.md; stale anchors land flagged. At most 10 cards per call — the app keeps the ranked head and drops the rest.")},
        {QStringLiteral("inputSchema"),
         QJsonObject{
             {QStringLiteral("type"), QStringLiteral("object")},
             {QStringLiteral("required"), strings({"piece_path", "cards"})},
             {QStringLiteral("properties"),
              QJsonObject{
                  {QStringLiteral("piece_path"), stringProperty(pathDescription)},
                  {QStringLiteral("cards"),
                   QJsonObject{
                       {QStringLiteral("type"), QStringLiteral("array")},
                       {QStringLiteral("description"),
                        QStringLiteral(
                            "Ranked most-important-first; at most 10 per call — the app keeps the ranked head and drops the rest.")},
                       {QStringLiteral("items"), card}}}}}}}};

    const QJsonObject note{
        {QStringLiteral("type"), QStringLiteral("object")},
        {QStringLiteral("required"), strings({"title", "url"})},
        {QStringLiteral("properties"),
         QJsonObject{{QStringLiteral("title"), stringProperty()},
                     {QStringLiteral("url"), stringProperty()},
                     {QStringLiteral("quote"),
                      stringProperty(QStringLiteral("Verbatim quotation from the source, when there is one."))},
                     {QStringLiteral("note"),
                      stringProperty(QStringLiteral("The finding — why this source matters to the piece."))}}}};

    const QJsonObject submitResearchNotes{
        {QStringLiteral("name"), QStringLiteral("submit_research_notes")},
        {QStringLiteral("description"),
         QStringLiteral(
             "Deliver research findings as candidate source-notes for a piece — candidates only: the notes arrive in the session, nothing is written to disk. The writer keeps or rejects each note in Pennora; keeping writes the plain markdown note (with provenance) into the piece's research/ folder.")},
        {QStringLiteral("inputSchema"),
         QJsonObject{{QStringLiteral("type"), QStringLiteral("object")},
                     {QStringLiteral("required"), strings({"piece_path", "notes"})},
                     {QStringLiteral("properties"),
                      QJsonObject{{QStringLiteral("piece_path"), stringProperty(pathDescription)},
                                  {QStringLiteral("notes"),
                                   QJsonObject{{QStringLiteral("type"), QStringLiteral("array")},
                                               {QStringLiteral("description"),
                                                QStringLiteral("Candidate source-notes with provenance.")},
                                               {QStringLiteral("items"), note}}}}}}}};

    return QJsonArray{queryLearnings, submitFixCards, submitResearchNotes};
}

std::optional<QByteArray> answer(QByteArrayView line)
{
    // The line is read as UTF-8 text: bytes that are not UTF-8 become U+FFFD
    // before the length is measured and the JSON parsed.
    QByteArray repaired;
    if (!line.isValidUtf8()) {
        repaired = QString::fromUtf8(line).toUtf8();
        line = repaired;
    }
    if (line.size() > kMaxLineBytes)
        return errorReply(error(-32600, "Line too long"), QJsonValue::Null);

    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(line.toByteArray(), &parseError);
    const QJsonObject request = document.object();
    const QJsonValue methodValue = request.value(QStringLiteral("method"));
    if (parseError.error != QJsonParseError::NoError || !document.isObject() || !methodValue.isString())
        return errorReply(error(-32700, "Parse error"), QJsonValue::Null);

    const QString method = methodValue.toString();
    std::optional<QJsonValue> id;
    if (request.contains(QStringLiteral("id")))
        id = request.value(QStringLiteral("id"));
    const QJsonValue paramsValue = request.value(QStringLiteral("params"));
    const QJsonObject params = paramsValue.isObject() ? paramsValue.toObject() : QJsonObject();

    if (method.startsWith(QLatin1String("notifications/")))
        return std::nullopt;
    if (method == QLatin1String("initialize")) {
        return resultReply(
            id, QJsonObject{{QStringLiteral("protocolVersion"), protocolVersion(params)},
                            {QStringLiteral("capabilities"), QJsonObject{{QStringLiteral("tools"), QJsonObject()}}},
                            {QStringLiteral("serverInfo"),
                             QJsonObject{{QStringLiteral("name"), QStringLiteral("pennora-tools")},
                                         {QStringLiteral("version"), QStringLiteral("1.0")}}}});
    }
    if (method == QLatin1String("ping"))
        return resultReply(id, QJsonObject());
    if (method == QLatin1String("tools/list"))
        return resultReply(id, QJsonObject{{QStringLiteral("tools"), toolDefinitions()}});
    if (method == QLatin1String("tools/call"))
        return callTool(id, params);
    return errorReply(error(-32601, "Method not found"), id.value_or(QJsonValue(QJsonValue::Null)));
}

void handle(QByteArrayView line, int outFd)
{
    std::optional<QByteArray> reply;
    try {
        reply = answer(line);
    } catch (...) {
        reply = QByteArray(kFallbackReply);
    }
    if (reply)
        writeLine(outFd, std::move(*reply));
}

int run(int inFd, int outFd)
{
    // A query_learnings reply runs to megabytes. Keep freed blocks of that
    // size in the heap rather than unmapping them, so later calls reuse warm
    // pages instead of faulting fresh ones in (several times faster).
    ::mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    ::mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);

    foundation::LineFramer framer(kMaxLineBytes);
    const auto onLine = [outFd](QByteArrayView line) { handle(line, outFd); };
    const auto onOverlong = [outFd] { writeLine(outFd, errorReply(error(-32600, "Line too long"), QJsonValue::Null)); };
    std::vector<char> chunk(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(inFd, chunk.data(), chunk.size());
        if (n < 0) {
            // A non-blocking descriptor with nothing in it yet has not ended.
            if (errno == EINTR
                || ((errno == EAGAIN || errno == EWOULDBLOCK) && foundation::fs::waitUntilReady(inFd, POLLIN)))
                continue;
            break;
        }
        if (n == 0)
            break;
        framer.feed(QByteArrayView(chunk.data(), n), onLine, onOverlong);
    }
    framer.finish(onLine, onOverlong);
    return 0;
}

} // namespace review::MCPServer
