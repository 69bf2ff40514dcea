#pragma once
// The one way an enumeration meets its stored text: a fixed table of cases and
// texts, in the order every walk over the cases takes. Readers match exactly
// (case-sensitive); a text not in the table is none.
//
// An enumeration with stored texts is a small value class made by TextEnum
// (below): `Lane::mechanical` is a case, `lane.rawValue()` its text.

#include <QHashFunctions>
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

// The value class of an enumeration with stored texts. Cases holds the plain
// `enum Value` and `texts`, its table; the class derives from
// TextEnum<itself, Cases> and adds what else its cases know:
//
//   struct LaneCases {
//       enum Value { mechanical, demonstration };
//       static constexpr auto texts = enumTexts<Value>({{mechanical, u"mechanical"}, ...});
//   };
//   class Lane : public TextEnum<Lane, LaneCases> {
//   public:
//       using TextEnum::TextEnum;
//   };
//
// switch, ==, < and qHash all work on it.
template<typename Derived, typename Cases>
class TextEnum : public Cases {
public:
    using Value = typename Cases::Value;

    constexpr TextEnum(Value value) : m_value(value) {}
    constexpr operator Value() const { return m_value; }

    static const QList<Derived> &allCases()
    {
        static const QList<Derived> all = [] {
            QList<Derived> cases;
            for (Value value : Cases::texts.cases())
                cases.append(Derived(value));
            return cases;
        }();
        return all;
    }
    static std::optional<Derived> fromRawValue(const QString &raw)
    {
        if (const std::optional<Value> value = Cases::texts.fromText(raw))
            return Derived(*value);
        return std::nullopt;
    }
    QString rawValue() const { return Cases::texts.text(m_value); }

    friend size_t qHash(const Derived &value, size_t seed = 0) noexcept
    {
        return ::qHash(int(static_cast<const TextEnum &>(value).m_value), seed);
    }

protected:
    Value m_value;
};

} // namespace foundation
