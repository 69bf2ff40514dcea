#include "editor/prose/views/readingview.h"

#include <QCoreApplication>
#include <QFile>
#include <QLoggingCategory>

#include <dlfcn.h>

Q_LOGGING_CATEGORY(readingViewLog, "com.quendalstudio.Pennora.reading")

namespace editor {

ReadingView *loadReadingView(QWidget *parent, const QStringList &folders)
{
    using Entry = ReadingView *(*)(QWidget *);
    static Entry entry = nullptr;
    if (!entry) {
        const QString dir = QCoreApplication::applicationDirPath();
        const QStringList places =
            folders.isEmpty() ? QStringList{dir, dir + QStringLiteral("/../lib/pennora")} : folders;
        QString errors;
        for (const QString &place : places) {
            const QString candidate = place + u'/' + QLatin1String(kReadingModuleName);
            if (!QFile::exists(candidate))
                continue;
            void *module = ::dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
            if (!module) {
                errors += QString::fromLocal8Bit(::dlerror());
                continue;
            }
            entry = reinterpret_cast<Entry>(::dlsym(module, kReadingModuleEntry));
            if (entry)
                break;
            errors += QStringLiteral("no entry in ") + candidate;
        }
        if (!entry) {
            qCWarning(readingViewLog).noquote() << "reading view: cannot load the web surface module"
                                                << (errors.isEmpty() ? QStringLiteral("(not found)") : errors);
            return nullptr;
        }
    }
    return entry(parent);
}

} // namespace editor
