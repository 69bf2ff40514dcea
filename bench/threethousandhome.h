#pragma once
// The 3,000-piece Home (40 projects of 75 pieces of 1,500 words) that the
// library search and library column benchmarks share, opened, scanned and
// unwatched in one library model for the whole process.

#include "model/postsmodel.h"

#include "synthetichome.h"

#include <QCoro/QCoroTask>
#include <QTemporaryDir>

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
