#pragma once
// The MCP tool server behind `pennora --serve-mcp`: JSON-RPC 2.0 requests, one
// per line on stdin, each answered by at most one compact line on stdout.
// Nothing is kept between lines; everything a tool needs lies in the Home.

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <unistd.h>

namespace review::MCPServer {

// The longest line (in bytes, line feed excluded) that is parsed at all.
inline constexpr qsizetype kMaxLineBytes = 1048576;

// The protocol versions this server speaks; "initialize" answers the client's
// version only when it is one of these, else the newest.
inline constexpr const char *kSupportedProtocolVersions[] = {"2024-11-05", "2025-03-26", "2025-06-18", "2025-11-25"};
inline constexpr const char *kLatestProtocolVersion = "2025-11-25";

// The one line used when a reply cannot be serialised, keys in this order.
inline constexpr const char *kFallbackReply =
    R"({"jsonrpc":"2.0","error":{"code":-32603,"message":"Internal error"},"id":null})";

// The reply line (without its line feed) that one input line gets, or none
// for a notification. Never throws.
std::optional<QByteArray> answer(QByteArrayView line);

// Answers one input line: writes zero or one reply line, line feed included,
// to outFd. Never throws.
void handle(QByteArrayView line, int outFd = STDOUT_FILENO);

// The three tool objects, in order, read on each call from the compiled-in
// src/resources/mcp-tools.json.
QJsonArray toolDefinitions();

// The reply line of a tools/call. A tool's failure becomes a tool error, never
// a JSON-RPC error.
QByteArray callTool(const std::optional<QJsonValue> &id, const QJsonObject &params);

// {"jsonrpc":"2.0","id":id,"result":result}; an absent id is written as null.
QByteArray resultReply(const std::optional<QJsonValue> &id, const QJsonObject &result);

// {"jsonrpc":"2.0","id":id,"error":error}.
QByteArray errorReply(const QJsonObject &error, const QJsonValue &id);

// A result reply whose tool result carries text with "isError" true.
QByteArray toolErrorReply(const QString &text, const std::optional<QJsonValue> &id);

// Reads lines from inFd until end of input, answering each on outFd. Lines
// are read through a bounded buffer: a line past kMaxLineBytes is discarded up
// to its line feed and answered once with -32600. Returns the exit status (0).
int run(int inFd = STDIN_FILENO, int outFd = STDOUT_FILENO);

namespace detail {
// The reply text for serialised bytes: the bytes themselves when they are
// non-empty valid UTF-8, else the fallback line (with a note on stderr).
QByteArray checkedReply(const QByteArray &serialised);
} // namespace detail

} // namespace review::MCPServer
