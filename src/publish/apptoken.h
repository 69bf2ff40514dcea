#pragma once
// The writer's app token for the blog service: how a pasted token is made
// ready, and where it is kept. It lives in the desktop's secret store (the
// Secret Service, through QtKeychain), one secret under a fixed service and
// account; nothing is ever written in plain text.

#include "foundation/error.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>
#include <optional>

namespace publish::Micropub {

inline constexpr const char *kTokenService = "com.quendalstudio.Pennora.micropub";
// The blog service's domain name, in lower case.
inline constexpr const char *kTokenAccount = "micro.blog";

inline constexpr const char *kTokenRefusal = "The app token can't contain spaces or line breaks.";
inline constexpr const char *kTokenNotStored =
    "Couldn't store the token in the keyring — it is used for this send only.";

// A token as the writer pasted it, trimmed of white space (line ends
// included) at both ends.
QString trimmedToken(const QString &pasted);
// kTokenRefusal when the token holds white space or a control character
// (which would end its header line and send the rest as headers); none
// otherwise.
std::optional<QString> tokenRefusal(const QString &token);

// A secret store failed (no Secret Service, a locked or refused collection).
class SecretStoreError : public foundation::Error {
public:
    using Error::Error;
};

// One secret per service and account. The store outlives every call.
class SecretStore {
public:
    virtual ~SecretStore() = default;
    // The secret's bytes; none when nothing is stored. Throws
    // SecretStoreError.
    virtual QCoro::Task<std::optional<QByteArray>> read(QString service, QString account) = 0;
    // Stores secret in place of any earlier one of the service and account.
    // Throws SecretStoreError.
    virtual QCoro::Task<void> write(QString service, QString account, QByteArray secret) = 0;
};

// The desktop's Secret Service through QtKeychain, never its plain-text
// fallback.
class KeyringSecretStore : public SecretStore {
public:
    QCoro::Task<std::optional<QByteArray>> read(QString service, QString account) override;
    QCoro::Task<void> write(QString service, QString account, QByteArray secret) override;
};

// The stored token; none when nothing is stored, the store fails (logged) or
// the secret is not UTF-8.
QCoro::Task<std::optional<QString>> readToken(SecretStore &store);

struct SaveResult {
    enum class Case {
        // Stored in place of any earlier token.
        saved,
        // Nothing to store: empty once trimmed; the store is untouched.
        empty,
        // Refused before anything was stored (kTokenRefusal).
        refused,
        // The store failed (kTokenNotStored); the token may still be used
        // for this send.
        notStored
    };
    Case which = Case::empty;
    // The token as stored (or as to be used), trimmed.
    QString token;
    // refused and notStored: what the sheet shows.
    QString message;

    bool operator==(const SaveResult &) const = default;
};

// Trims the pasted token, refuses one that cannot be a header value, and
// stores it under kTokenService and kTokenAccount.
QCoro::Task<SaveResult> saveToken(SecretStore &store, QString pasted);

} // namespace publish::Micropub
