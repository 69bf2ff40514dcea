#pragma once
// What the tests of the provider probe and the settings model share: readable
// outcomes, and an in-process transport that records requests and plays
// scripted answers.

#include "profiles/providerprobe.h"

#include <QList>
#include <functional>
#include <memory>
#include <ostream>

namespace profiles::ProviderProbe {
inline void PrintTo(const Outcome &outcome, std::ostream *os)
{
    *os << outcome.description().toStdString();
}
} // namespace profiles::ProviderProbe

namespace testsupport {

class ScriptedProbeTransport {
public:
    using Request = profiles::ProviderProbe::Request;
    using Response = profiles::ProviderProbe::Response;

    // One scripted answer: a response, or a transport failure with this
    // description.
    struct Answer {
        std::optional<Response> response;
        QString failure;
    };
    static Answer reply(int status, const QByteArray &body) { return {Response{status, body}, {}}; }
    static Answer failure(const QString &description) { return {std::nullopt, description}; }

    // Answers in order; a request past the script fails the test's check of
    // sent() and gets a transport failure.
    explicit ScriptedProbeTransport(QList<Answer> answers = {}) : m_state(std::make_shared<State>())
    {
        m_state->answers = std::move(answers);
    }

    const QList<Request> &sent() const { return m_state->sent; }
    void setAnswers(QList<Answer> answers) { m_state->answers = std::move(answers); }
    // Called with each request as it is sent (before it is answered).
    void onSend(std::function<void(const Request &)> observer) { m_state->observer = std::move(observer); }

    profiles::ProviderProbe::Transport transport() const
    {
        return [state = m_state](Request request) { return answer(state, std::move(request)); };
    }

private:
    struct State {
        QList<Answer> answers;
        QList<Request> sent;
        std::function<void(const Request &)> observer;
    };

    static QCoro::Task<Response> answer(std::shared_ptr<State> state, Request request)
    {
        state->sent << request;
        if (state->observer)
            state->observer(request);
        const Answer next = state->answers.isEmpty() ? failure("no scripted answer") : state->answers.takeFirst();
        if (!next.response)
            throw profiles::ProviderProbe::TransportError(next.failure);
        co_return *next.response;
    }

    std::shared_ptr<State> m_state;
};

} // namespace testsupport
