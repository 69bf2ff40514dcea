#pragma once
// A settings writer for tests of the settings model and its views: it records
// every write, can hold writes and reads open and fail writes, and answers
// reads from what the test stored. And the fixture those tests share.

#include "profiles/latch.h"
#include "profiles/settingswriting.h"

#include "foundation/error.h"
#include "profiles/settingsmodel.h"

#include "probetesting.h"
#include "testutil.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>

namespace testsupport {

// Records every call; writes can be held open and failed, reads answer what
// the test stored (after a hold when one is set).
class RecordingWriter final : public profiles::SettingsWriting {
public:
    using StoredModel = profiles::SettingsWriting::StoredModel;

    struct Call {
        QString chain; // "chat", "pass1", "pass2" or a provider's raw value
        profiles::SurfaceModelConfig config;
        std::optional<QString> baseURL;
        profiles::ProviderKeyConfig key;
        QList<profiles::ProfileSurface> surfaces;
    };

    QList<Call> calls;
    // Writes stay open until released.
    bool holdWrites = false;
    // Reads stay open until released.
    bool holdReads = false;
    // Writes of these chains throw this message.
    QHash<QString, QString> failures;
    QHash<profiles::ProfileSurface, StoredModel> storedModels;
    QHash<profiles::ModelProvider, QString> storedKeys;
    int overlaps = 0;
    int activeWrites = 0;

    void release()
    {
        const std::shared_ptr<profiles::Latch> gate = m_gate;
        m_gate = std::make_shared<profiles::Latch>();
        gate->set();
    }

    QCoro::Task<void> writeModel(profiles::ProfileSurface surface, profiles::SurfaceModelConfig config,
                                 std::optional<QString> baseURL) override
    {
        Call call{chainOf(surface), config, baseURL, {}, {}};
        QCoro::Task<void> writing = write(call);
        co_await writing;
    }
    QCoro::Task<void> writeProviderKey(profiles::ModelProvider provider, profiles::ProviderKeyConfig keyConfig,
                                       QList<profiles::ProfileSurface> surfaces) override
    {
        Call call{provider.rawValue(), {}, {}, keyConfig, surfaces};
        QCoro::Task<void> writing = write(call);
        co_await writing;
    }
    QCoro::Task<std::optional<StoredModel>> readModel(profiles::ProfileSurface surface) override
    {
        if (holdReads) {
            const std::shared_ptr<profiles::Latch> gate = m_gate;
            QCoro::Task<void> held = profiles::await(*gate);
            co_await held;
        }
        if (!storedModels.contains(surface))
            throw std::runtime_error("unreadable");
        co_return storedModels.value(surface);
    }
    QCoro::Task<std::optional<QString>> readProviderKey(profiles::ModelProvider provider) override
    {
        if (holdReads) {
            const std::shared_ptr<profiles::Latch> gate = m_gate;
            QCoro::Task<void> held = profiles::await(*gate);
            co_await held;
        }
        co_return storedKeys.contains(provider) ? std::optional<QString>(storedKeys.value(provider)) : std::nullopt;
    }

    static QString chainOf(profiles::ProfileSurface surface)
    {
        return QStringList{"chat", "pass1", "pass2"}.at(int(surface));
    }
    QStringList chains() const
    {
        QStringList names;
        for (const Call &call : calls)
            names << call.chain;
        return names;
    }

private:
    QCoro::Task<void> write(Call call)
    {
        calls << call;
        if (++m_active[call.chain] > 1)
            ++overlaps;
        ++activeWrites;
        if (holdWrites) {
            const std::shared_ptr<profiles::Latch> gate = m_gate;
            QCoro::Task<void> held = profiles::await(*gate);
            co_await held;
        }
        --m_active[call.chain];
        --activeWrites;
        if (failures.contains(call.chain))
            throw foundation::Error(failures.value(call.chain));
    }

    QHash<QString, int> m_active;
    std::shared_ptr<profiles::Latch> m_gate = std::make_shared<profiles::Latch>();
};

// Settings models over one recording writer and a scripted probe.
class SettingsModelFixture : public ::testing::Test {
protected:
    std::shared_ptr<profiles::SettingsModel> make(
        profiles::ModelRegistry registry = {}, std::optional<profiles::SettingsModel::Surfaces> surfaces = std::nullopt,
        std::chrono::milliseconds debounce = std::chrono::milliseconds(50),
        std::optional<profiles::ProviderProbe::Transport> transport = std::nullopt)
    {
        return std::make_shared<profiles::SettingsModel>(std::move(registry), writer, std::move(surfaces),
                                                         transport.value_or(probe.transport()), debounce,
                                                         dir.filePath("auth.json"));
    }

    // Lets every due write run, then a little longer for any that should not.
    void settle()
    {
        spinUntil([] { return false; }, 250);
    }

    void TearDown() override
    {
        // No task may be left waiting on a gate when the test ends.
        writer->holdWrites = writer->holdReads = false;
        writer->release();
        spinUntil([this] { return writer->activeWrites == 0; });
        settle();
    }

    std::shared_ptr<RecordingWriter> writer = std::make_shared<RecordingWriter>();
    ScriptedProbeTransport probe;
    QTemporaryDir dir;
};

} // namespace testsupport
