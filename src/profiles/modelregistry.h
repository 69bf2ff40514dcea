#pragma once
// The engine's cache of the model names each provider offers, read once per
// process. The settings offer these names for a surface's model while still
// taking any other name the writer types.

#include "profiles/settingstypes.h"

#include <QHash>
#include <QString>
#include <QStringList>

namespace profiles {

class ModelRegistry {
public:
    using Models = QHash<ModelProvider, QStringList>;

    ModelRegistry() = default;
    explicit ModelRegistry(Models models) : models(std::move(models)) {}

    // The names per provider in the cache file's order, duplicates kept. A
    // provider without an entry has no names.
    Models models;

    // The cache file: an object of provider raw values, each an object whose
    // "models" is absent, null or an array of strings. Members named after no
    // provider are skipped, but a file with any member or "models" of another
    // shape is unreadable as a whole. Empty when unreadable; never fails.
    static Models load(const QString &path);
    // "~/.hermes/provider_models_cache.json" of the user's home.
    static QString cachePath();
    // The process's snapshot of cachePath(), read the first time it is asked
    // for (from any thread) and never again.
    static const ModelRegistry &shared();

    // The provider's names, empty when it has none.
    QStringList modelsFor(ModelProvider provider) const { return models.value(provider); }
    // The name is listed for the provider exactly as given (no trimming or
    // case folding).
    bool contains(ModelProvider provider, const QString &model) const { return modelsFor(provider).contains(model); }

    bool operator==(const ModelRegistry &) const = default;
};

} // namespace profiles
