#include "library/passkind.h"

#include "foundation/enumtext.h"

namespace library {
namespace {

constexpr auto kPassKinds =
    foundation::enumTexts<PassKind>({{PassKind::pass1, u"Pass 1"}, {PassKind::pass2, u"Pass 2"}});

} // namespace

const QList<PassKind> &PassKind::allCases()
{
    static const QList<PassKind> all = kPassKinds.cases();
    return all;
}

std::optional<PassKind> PassKind::fromRawValue(const QString &raw)
{
    return kPassKinds.fromText(raw);
}

QString PassKind::rawValue() const
{
    return kPassKinds.text(m_value);
}

} // namespace library
