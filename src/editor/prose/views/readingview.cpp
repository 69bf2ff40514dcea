#include "editor/prose/views/readingview.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>

#include <dlfcn.h>

Q_LOGGING_CATEGORY(readingViewLog, "com.quendalstudio.Pennora.reading")

namespace editor {

ReadingView *loadReadingView(QWidget *parent)
{
    using Entry = ReadingView *(*)(QWidget *);
    static const Entry entry = []() -> Entry {
        const QString dir = QCoreApplication::applicationDirPath();
        const QString name = QLatin1String(kReadingModuleName);
        QString errors;
        for (const QString &candidate : {dir + u'/' + name, dir + QStringLiteral("/../lib/pennora/") + name}) {
            if (!QFile::exists(candidate))
                continue;
            void *module = ::dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                errors += QString::fromLocal8Bit(::dlerror());
                continue;
            }
            if (auto made = reinterpret_cast<Entry>(::dlsym(module, kReadingModuleEntry)))
                return made;
            errors += QStringLiteral("no entry in ") + candidate;
        }
        qCWarning(readingViewLog).noquote() << "reading view: cannot load the web surface module"
                                            << (errors.isEmpty() ? QStringLiteral("(not found)") : errors);
        return nullptr;
    }();
    return entry ? entry(parent) : nullptr;
}

} // namespace editor
