#pragma once
// The 3,000-piece Home (40 projects of 75 pieces of 1,500 words) that the
// library search and library column benchmarks share, opened, scanned and
// unwatched in one library model for the whole process.

#include "model/postsmodel.h"

#include "synthetichome.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QStringList>
#include <QTemporaryDir>
#include <map>
#include <tuple>

namespace bench {

struct ThreeThousandPieceHome {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/Home");
    model::PostsModel model;
    ThreeThousandPieceHome()
    {
        testsupport::SyntheticHomeOptions options;
        options.projects = 40;
        options.piecesPerProject = 75;
        options.minWords = 1500;
        options.maxWords = 1500;
        options.archivedProjects = 0;
        testsupport::generateSyntheticHome(path, options);
        model.startWatching(path);
        model.watcher().stop();
        QCoro::waitFor(model.rescan());
    }
};

inline ThreeThousandPieceHome &threeThousandPieceHome()
{
    static ThreeThousandPieceHome *const home = new ThreeThousandPieceHome;
    return *home;
}

} // namespace bench

namespace bench {

// A Home of live pieces spread over a given number of projects, opened,
// scanned and unwatched like the one above; one per shape for the whole
// process.
struct SearchHome {
    QTemporaryDir dir;
    QString path = dir.path() + QStringLiteral("/Home");
    model::PostsModel model;
    SearchHome(int projects, int piecesPerProject, int minWords, int maxWords)
    {
        testsupport::SyntheticHomeOptions options;
        options.projects = projects;
        options.piecesPerProject = piecesPerProject;
        options.minWords = minWords;
        options.maxWords = maxWords;
        options.archivedProjects = 0;
        testsupport::generateSyntheticHome(path, options);
        model.startWatching(path);
        model.watcher().stop();
        QCoro::waitFor(model.rescan());
    }
};

// The homes are never destroyed (their models outlive the application), so
// their folders are removed when the application goes.
inline QStringList &searchHomeFolders()
{
    static QStringList folders;
    return folders;
}

inline SearchHome &searchHome(int projects, int piecesPerProject, int minWords, int maxWords)
{
    static std::map<std::tuple<int, int, int, int>, SearchHome *> homes;
    SearchHome *&home = homes[{projects, piecesPerProject, minWords, maxWords}];
    if (!home) {
        if (searchHomeFolders().isEmpty()) {
            qAddPostRoutine([] {
                for (const QString &folder : std::as_const(searchHomeFolders()))
                    QDir(folder).removeRecursively();
            });
        }
        home = new SearchHome(projects, piecesPerProject, minWords, maxWords);
        searchHomeFolders().append(home->dir.path());
    }
    return *home;
}

} // namespace bench
