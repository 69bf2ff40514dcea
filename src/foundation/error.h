#pragma once
// The base of every error the program throws with a message of its own: what
// the writer is shown or the log records. Types derived from it stay distinct
// where callers tell them apart; one catch of Error takes them all.

#include <QString>
#include <stdexcept>

namespace foundation {

class Error : public std::runtime_error {
public:
    explicit Error(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    const QString &message() const { return m_message; }

private:
    QString m_message;
};

// The text shown for any failure: an Error's own message, else what the
// library says.
inline QString describe(const std::exception &error)
{
    if (const auto *own = dynamic_cast<const Error *>(&error))
        return own->message();
    return QString::fromUtf8(error.what());
}

} // namespace foundation
