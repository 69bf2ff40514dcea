#pragma once
// The app token's secret store in memory, for tests: one secret per service
// and account, a write replaces, and a failing store on demand.

#include "publish/apptoken.h"

#include <QHash>
#include <QPair>

namespace testsupport {

class MemorySecretStore : public publish::Micropub::SecretStore {
public:
    using Key = QPair<QString, QString>;

    QCoro::Task<std::optional<QByteArray>> read(QString service, QString account) override
    {
        ++reads;
        if (failure)
            throw publish::Micropub::SecretStoreError(*failure);
        const auto found = secrets.constFind(Key(service, account));
        co_return found == secrets.cend() ? std::nullopt : std::optional<QByteArray>(*found);
    }

    QCoro::Task<void> write(QString service, QString account, QByteArray secret) override
    {
        ++writes;
        if (failure)
            throw publish::Micropub::SecretStoreError(*failure);
        secrets.insert(Key(service, account), secret);
        co_return;
    }

    QHash<Key, QByteArray> secrets;
    // Every call throws this while it is set.
    std::optional<QString> failure;
    int reads = 0;
    int writes = 0;
};

} // namespace testsupport
