#pragma once
// A started mentor on the tests' in-memory engine connection, with one
// session, "s-1", active; and the session updates that engine sends.

#include "engine/mentorsessionmodel.h"

#include "faketransport.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>

#include <memory>

namespace bench {

inline const QString kSession = QStringLiteral("s-1");

inline foundation::JSONValue sessionUpdate(const QString &kind, const QString &text)
{
    using foundation::JSONValue;
    return JSONValue::Object{
        {QStringLiteral("sessionId"), kSession},
        {QStringLiteral("update"),
         JSONValue::Object{
             {QStringLiteral("sessionUpdate"), kind},
             {QStringLiteral("content"),
              JSONValue::Object{{QStringLiteral("type"), QStringLiteral("text")}, {QStringLiteral("text"), text}}}}},
    };
}

struct FakeMentor {
    FakeMentor()
    {
        using foundation::JSONValue;
        auto host = std::make_unique<engine::EngineHost>();
        host->recordedVersionProvider = [] { return std::optional<QString>(); };
        host->makeTransport = [this](const QString &profile) {
            testsupport::FakeTransport::Script script;
            script.answers.insert(QStringLiteral("session/new"),
                                  JSONValue(JSONValue::Object{{QStringLiteral("sessionId"), kSession}}));
            transport = std::make_shared<testsupport::FakeTransport>(profile, script);
            return transport;
        };
        model =
            std::make_unique<engine::MentorSessionModel>(std::move(host), QStringLiteral("/bin/true"), folder.path());
        QCoro::waitFor(model->start());
    }

    QTemporaryDir folder;
    std::shared_ptr<testsupport::FakeTransport> transport;
    std::unique_ptr<engine::MentorSessionModel> model;
};

} // namespace bench
