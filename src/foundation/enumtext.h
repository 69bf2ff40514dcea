#pragma once
// The one way an enumeration meets its stored text: a fixed table of cases and
// texts, in the order every walk over the cases takes. Readers match exactly
// (case-sensitive); a text not in the table is none.
//
// An enumeration with stored texts is a small value class over a plain enum
// (`Lane::mechanical` is a case, `lane.rawValue()` its text), whose
// allCases(), fromRawValue() and rawValue() read one of these tables.

#include <QList>
#include <QString>
#include <QStringView>
#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace foundation {

template<typename E, std::size_t N>
class EnumTexts {
public:
    using Entry = std::pair<E, const char16_t *>;

    constexpr explicit EnumTexts(const std::array<Entry, N> &entries) : m_entries(entries) {}

    QString text(E value) const
    {
        for (const Entry &entry : m_entries) {
            if (entry.first == value)
                return QString::fromUtf16(entry.second);
        }
        return QString();
    }

    std::optional<E> fromText(QStringView text) const
    {
        for (const Entry &entry : m_entries) {
            if (text == QStringView(entry.second))
                return entry.first;
        }
        return std::nullopt;
    }

    QList<E> cases() const
    {
        QList<E> all;
        all.reserve(qsizetype(N));
        for (const Entry &entry : m_entries)
            all.append(entry.first);
        return all;
    }

private:
    std::array<Entry, N> m_entries;
};

namespace detail {
template<typename E, std::size_t N, std::size_t... I>
constexpr EnumTexts<E, N> enumTexts(const std::pair<E, const char16_t *> (&entries)[N], std::index_sequence<I...>)
{
    return EnumTexts<E, N>(std::array<std::pair<E, const char16_t *>, N>{entries[I]...});
}
} // namespace detail

// constexpr auto kLanes = enumTexts<Lane>({{Lane::a, u"a"}, {Lane::b, u"b"}});
template<typename E, std::size_t N>
constexpr EnumTexts<E, N> enumTexts(const std::pair<E, const char16_t *> (&entries)[N])
{
    return detail::enumTexts(entries, std::make_index_sequence<N>());
}

} // namespace foundation
