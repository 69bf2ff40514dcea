#pragma once
// What the settings and the mentor's pass readiness need of whoever writes and
// reads the engine profiles' model settings and provider keys. The engine
// profiles writer implements it; tests hand in fakes.

#include "profiles/settingstypes.h"

#include <QCoro/QCoroTask>
#include <QList>
#include <QString>
#include <optional>

namespace profiles {

class SettingsWriting {
public:
    // One surface's settings as read back from its profile.
    struct StoredModel {
        SurfaceModelConfig config;
        // The profile's "model.base_url"; absent when the profile sets none.
        std::optional<QString> baseURL;

        bool operator==(const StoredModel &) const = default;
    };

    virtual ~SettingsWriting() = default;

    // Writes provider, model, effort and (when given) base URL into the
    // surface's profile. May throw.
    virtual QCoro::Task<void> writeModel(ProfileSurface surface, SurfaceModelConfig config,
                                         std::optional<QString> baseURL) = 0;
    // Writes the provider's key into every profile and, where the provider
    // needs it, its endpoint into the given surfaces' profiles. May throw.
    virtual QCoro::Task<void> writeProviderKey(ModelProvider provider, ProviderKeyConfig keyConfig,
                                               QList<ProfileSurface> surfaces) = 0;
    // The surface's settings, or nothing when they cannot be read. May throw.
    virtual QCoro::Task<std::optional<StoredModel>> readModel(ProfileSurface surface) = 0;
    // The provider's API key, or nothing when none is set. May throw.
    virtual QCoro::Task<std::optional<QString>> readProviderKey(ModelProvider provider) = 0;

protected:
    SettingsWriting() = default;
    SettingsWriting(const SettingsWriting &) = default;
    SettingsWriting &operator=(const SettingsWriting &) = default;
};

} // namespace profiles
