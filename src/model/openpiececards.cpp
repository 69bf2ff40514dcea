#include "model/openpiececards.h"

#include "foundation/error.h"
#include "foundation/notify.h"
#include "library/poststore.h"
#include "model/postsmodel.h"
#include "review/sidefiles.h"

#include <QCoro/QCoroFuture>
#include <QDateTime>
#include <QDir>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace model {

using namespace Qt::StringLiterals;
namespace PostStore = library::PostStore;
namespace FixCardStore = review::FixCardStore;

namespace {

QString cardsFolderOf(const QString &pieceFolder)
{
    return QDir(pieceFolder).filePath(u"cards"_s);
}

QString cardNotFound(const QUuid &id)
{
    return u"card not found: "_s + review::detail::uuidText(id);
}

} // namespace

void OpenPieceCards::setCards(const QList<Card> &cards)
{
    foundation::storeAndNotify(m_model, m_cards, cards, &PostsModel::openPieceCardsChanged);
}

void OpenPieceCards::setHasSnapshot(bool value)
{
    foundation::storeAndNotify(m_model, m_hasSnapshot, value, &PostsModel::openPieceHasSnapshotChanged);
}

void OpenPieceCards::refresh()
{
    const auto open = m_model.openPiece();
    const std::optional<QString> &watchedHome = m_model.watchedHome();
    const std::optional<QString> folder = open && watchedHome && open->second == *watchedHome
                                              ? PostStore::folderPath(open->first, open->second)
                                              : std::nullopt;
    const quint64 serial = ++m_refreshesStarted;
    if (!folder) {
        m_refreshApplied = serial;
        setCards({});
        setHasSnapshot(false);
        return;
    }
    const QString id = open->first;
    const QString home = open->second;
    // A detached task: the scan's result comes back on the main thread and is
    // dropped when the model is gone.
    QCoro::Task<void> detached = [](QPointer<PostsModel> self, OpenPieceCards *owner, PostsModel::ScanPieceCards scan,
                                    QString folder, QString id, QString home, quint64 serial) -> QCoro::Task<void> {
        struct Result {
            QList<Card> cards;
            bool hasSnapshot = false;
        };
        QFuture<Result> scanning = QtConcurrent::run(PostsModel::libraryPool(), [scan, folder, id, home] {
            return Result{scan(folder), PostStore::latestPassSnapshot(id, home).has_value()};
        });
        const Result result = co_await scanning;
        // The owner lives as long as the model.
        if (!self)
            co_return;
        const auto now = self->openPiece();
        // Only for the piece still open, and never older than what is shown.
        if (!now || now->first != id || now->second != home || serial <= owner->m_refreshApplied)
            co_return;
        owner->m_refreshApplied = serial;
        owner->setCards(result.cards);
        owner->setHasSnapshot(result.hasSnapshot);
    }(QPointer<PostsModel>(&m_model), this, m_model.scanPieceCards, *folder, id, home, serial);
}

void OpenPieceCards::rewriteStatus(const Card &card, const std::function<void(Card &)> &change)
{
    const QString cards = cardsFolderOf(m_model.session()->folderPath());
    try {
        const std::optional<FixCardStore::CardFile> file = FixCardStore::findCard(cards, card.id);
        if (!file)
            throw FixCardStore::CardError(cardNotFound(card.id));
        Card stored = file->card;
        change(stored);
        FixCardStore::rewriteCard(cards, file->fileName, stored);
    } catch (const std::exception &error) {
        m_model.setLastError(u"card close failed: "_s + foundation::describe(error));
    }
    refresh();
}

OpenPieceCards::ApplyOutcome OpenPieceCards::apply(const Card &card)
{
    if (card.status != Card::Status::open)
        return ApplyOutcome::refused(u"card already closed"_s);
    if (card.lane != Card::Lane::mechanical)
        return ApplyOutcome::refused(u"demonstration cards close Done or Skip"_s);
    EditorSession *session = m_model.session();
    if (!session || !(session->target().kind() == SessionTarget::Kind::post))
        return ApplyOutcome::refused(u"open the piece to work its cards"_s);
    // A window's card may belong to a piece no longer open: never edit
    // another piece where its text holds the same quote. And the shown copy
    // may be older than the file: a card closed there stays closed.
    const std::optional<FixCardStore::CardFile> onDisk =
        FixCardStore::findCard(cardsFolderOf(session->folderPath()), card.id);
    if (!onDisk)
        return ApplyOutcome::refused(cardNotFound(card.id));
    if (onDisk->card.status != Card::Status::open)
        return ApplyOutcome::refused(u"card already closed"_s);
    if (m_model.isSessionOpen(session->target().id()) && !m_model.flushSession(*session))
        return ApplyOutcome::refused(m_model.lastError().value_or(u"edits did not land"_s));

    const std::optional<QString> fixed = FixCardStore::applyFix(card, session->text());
    if (!fixed) {
        rewriteStatus(card, [](Card &stored) {
            stored.status = Card::Status::open;
            stored.anchorStatus = Card::AnchorStatus::stale;
        });
        return ApplyOutcome::wentStale();
    }
    if (!session->replaceText(*fixed))
        return ApplyOutcome::refused(m_model.lastError().value_or(u"write failed"_s));
    close(card, Card::Status::applied);
    return ApplyOutcome::applied();
}

void OpenPieceCards::close(const Card &card, Card::Status status)
{
    if (!m_model.session()) {
        m_model.setLastError(u"open the piece to work its cards"_s);
        return;
    }
    bool closedThere = false;
    rewriteStatus(card, [&](Card &stored) {
        if (stored.status != Card::Status::open && status != Card::Status::open) {
            closedThere = true;
            throw FixCardStore::CardError(u"card already closed"_s);
        }
        stored.status = status;
    });
    if (closedThere)
        m_model.setLastError(u"card already closed"_s);
}

std::optional<QString> OpenPieceCards::promote(const Card &card)
{
    if (card.promotedAt)
        return u"card already promoted"_s;
    if (!m_model.session())
        return u"open the piece to work its cards"_s;
    // Only a card of the open piece: its learning would be filed under the
    // open piece's kind.
    if (!FixCardStore::findCard(cardsFolderOf(m_model.session()->folderPath()), card.id))
        return cardNotFound(card.id);
    try {
        FixCardStore::promote(QDir(m_model.session()->folderPath()).filePath(PostStore::kPostFileName), card.id,
                              QDateTime::currentDateTime());
    } catch (const std::exception &error) {
        const QString message = u"learning write failed: "_s + foundation::describe(error);
        m_model.setLastError(message);
        return message;
    }
    refresh();
    return std::nullopt;
}

} // namespace model
