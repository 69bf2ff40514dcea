#include "publish/apptoken.h"

#include "foundation/text.h"

#include <QCoro/QCoroSignal>
#include <QLoggingCategory>
#include <memory>
#include <qt6keychain/keychain.h>

namespace publish::Micropub {

namespace {

Q_LOGGING_CATEGORY(tokenLog, "com.quendalstudio.Pennora.micropub")

// Deletes a job once it is done with, whatever way the coroutine leaves.
struct JobDeleter {
    void operator()(QKeychain::Job *job) const { job->deleteLater(); }
};

template<typename JobType>
std::unique_ptr<JobType, JobDeleter> makeJob(const QString &service, const QString &account)
{
    std::unique_ptr<JobType, JobDeleter> job(new JobType(service));
    job->setAutoDelete(false);
    // Never a plain-text file in place of the keyring.
    job->setInsecureFallback(false);
    job->setKey(account);
    return job;
}

QCoro::Task<void> run(QKeychain::Job *job)
{
    // The job starts from the event loop, after the wait below is in place.
    job->start();
    co_await qCoro(job, &QKeychain::Job::finished);
}

} // namespace

QString trimmedToken(const QString &pasted)
{
    return foundation::text::trimSpacesAndNewlines(pasted);
}

std::optional<QString> tokenRefusal(const QString &token)
{
    for (const QChar c : token) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return QString::fromUtf8(kTokenRefusal);
    }
    return std::nullopt;
}

QCoro::Task<std::optional<QByteArray>> KeyringSecretStore::read(QString service, QString account)
{
    const auto job = makeJob<QKeychain::ReadPasswordJob>(service, account);
    co_await run(job.get());
    if (job->error() == QKeychain::EntryNotFound)
        co_return std::nullopt;
    if (job->error() != QKeychain::NoError)
        throw SecretStoreError(job->errorString());
    co_return job->binaryData();
}

QCoro::Task<void> KeyringSecretStore::write(QString service, QString account, QByteArray secret)
{
    const auto job = makeJob<QKeychain::WritePasswordJob>(service, account);
    // Stored as text, so other keyring tools show the token as it is.
    job->setTextData(QString::fromUtf8(secret));
    co_await run(job.get());
    if (job->error() != QKeychain::NoError)
        throw SecretStoreError(job->errorString());
}

QCoro::Task<std::optional<QString>> readToken(SecretStore &store)
{
    std::optional<QByteArray> secret;
    try {
        QCoro::Task<std::optional<QByteArray>> reading =
            store.read(QString::fromUtf8(kTokenService), QString::fromUtf8(kTokenAccount));
        secret = co_await reading;
    } catch (const SecretStoreError &error) {
        qCWarning(tokenLog).noquote() << "the app token cannot be read from the keyring:" << error.message();
        co_return std::nullopt;
    }
    if (!secret)
        co_return std::nullopt;
    co_return foundation::text::decodeUtf8(*secret);
}

QCoro::Task<SaveResult> saveToken(SecretStore &store, QString pasted)
{
    const QString token = trimmedToken(pasted);
    if (token.isEmpty())
        co_return SaveResult{SaveResult::Case::empty, {}, {}};
    if (const std::optional<QString> refusal = tokenRefusal(token))
        co_return SaveResult{SaveResult::Case::refused, {}, *refusal};
    try {
        QCoro::Task<void> writing =
            store.write(QString::fromUtf8(kTokenService), QString::fromUtf8(kTokenAccount), token.toUtf8());
        co_await writing;
    } catch (const SecretStoreError &error) {
        qCWarning(tokenLog).noquote() << "the app token cannot be stored in the keyring:" << error.message();
        co_return SaveResult{SaveResult::Case::notStored, token, QString::fromUtf8(kTokenNotStored)};
    }
    co_return SaveResult{SaveResult::Case::saved, token, {}};
}

} // namespace publish::Micropub
