#include "library/micropubchecks.h"

#include "foundation/text.h"

#include <QChar>
#include <QUrl>

namespace library::Micropub {

namespace {

bool isRefusedCharacter(char32_t c)
{
    if (foundation::text::isLineBreak(c))
        return true;
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate: // an unpaired half is not text
        return true;
    default: return false;
    }
}

} // namespace

bool isTrustworthy(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if (isRefusedCharacter(c))
            return false;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return false;
    if (url.scheme().toLower() != QLatin1String("https"))
        return false;
    return !url.host().isEmpty();
}

std::optional<QString> mimeType(const QString &fileName)
{
    QStringView name(fileName);
    while (name.endsWith(u'/'))
        name.chop(1);
    name = name.mid(name.lastIndexOf(u'/') + 1);
    const qsizetype dot = name.lastIndexOf(u'.');
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0)
        return std::nullopt;
    const QString ext = name.mid(dot + 1).toString().toLower();
    if (ext == QLatin1String("png"))
        return QStringLiteral("image/png");
    if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
        return QStringLiteral("image/jpeg");
    if (ext == QLatin1String("gif"))
        return QStringLiteral("image/gif");
    if (ext == QLatin1String("webp"))
        return QStringLiteral("image/webp");
    if (ext == QLatin1String("svg"))
        return QStringLiteral("image/svg+xml");
    return std::nullopt;
}

} // namespace library::Micropub
