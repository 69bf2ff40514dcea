#pragma once
// The rows of a mentor transcript: messages and notices, the agent's
// thinking, echoes of the engine's tool calls, and anything the mentor does
// not understand, kept raw so nothing the engine says is lost.

#include "review/toolpayloads.h"

#include <QList>
#include <QString>
#include <QUuid>
#include <optional>
#include <variant>

namespace engine {

struct SessionRow {
    enum class Speaker { agent, user, system };
    enum class NoticeKind { refused, interrupted, connectionLost, kickoff, failed, plain };

    struct Text {
        QString text;
        Speaker speaker = Speaker::agent;
        NoticeKind notice = NoticeKind::plain;
        bool operator==(const Text &) const = default;
    };
    struct Thought {
        QString text;
        bool operator==(const Thought &) const = default;
    };
    // Any other tool call, or an update the mentor does not understand.
    struct Raw {
        QString kind;
        QString json;
        bool operator==(const Raw &) const = default;
    };
    using Content = std::variant<Text, Thought, review::FixCard, review::ResearchCandidate, Raw>;

    QUuid id;
    Content content;

    bool operator==(const SessionRow &) const = default;

    // A row with a fresh random id.
    static SessionRow make(Content content) { return {QUuid::createUuid(), std::move(content)}; }
    static Content text(QString text, Speaker speaker, NoticeKind notice)
    {
        return Text{std::move(text), speaker, notice};
    }
    // A system notice: the command and, after an em dash, the reason.
    static Content notice(QString text, NoticeKind notice) { return Text{std::move(text), Speaker::system, notice}; }
    // A reply of the agent; one the engine marks as interrupted is a notice.
    static Content agentReply(QString text);

    // The newest non-blank plain reply of the agent, trimmed; none without one.
    static std::optional<QString> lastAgentText(const QList<SessionRow> &rows);
};

} // namespace engine
