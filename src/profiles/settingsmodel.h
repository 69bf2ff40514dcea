#pragma once
// The settings model. For now only its model-free part: the Nous portal login
// key, which pass readiness also reads.

#include <QString>
#include <optional>

namespace profiles {

class SettingsModel {
public:
    // The text at "providers" -> "nous" -> "agent_key" of the engine's portal
    // login file (JSON, normally ~/.hermes/auth.json), trimmed of white space
    // and line ends. Nothing when the file is missing, unreadable, not a
    // regular file (a link is followed), not such JSON, or the trimmed key is
    // empty. Never throws; reads on the caller's thread.
    static std::optional<QString> portalAgentKey(const QString &path);
};

} // namespace profiles
