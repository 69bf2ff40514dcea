#include "mcpserver.h"

#include "fixcardstore.h"
#include "toolpayloads.h"

#include "foundation/fs.h"
#include "foundation/json.h"
#include "foundation/jsonvalue.h"
#include "foundation/lineframer.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <poll.h>
#include <vector>

// Outside any namespace, as Qt's resource initialiser must be.
static void initToolResources()
{
    Q_INIT_RESOURCE(review_resources);
}

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
    // The schemas are compiled in from src/resources/mcp-tools.json; a build
    // without them is broken, which the tool server's tests catch.
    static const bool initialised = (initToolResources(), true);
    Q_UNUSED(initialised);
    QFile file(QStringLiteral(":/mcp-tools.json"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).array();
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
