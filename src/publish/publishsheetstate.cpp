#include "publish/publishsheetstate.h"

#include "model/postsmodel.h"

#include <QCoro/QCoroTask>
#include <QLoggingCategory>

using namespace Qt::StringLiterals;

namespace publish {

namespace {

Q_LOGGING_CATEGORY(sheetLog, "com.quendalstudio.Pennora.micropub")

using Micropub::Outcome;

} // namespace

PublishSheetState::PublishSheetState(model::PostsModel &posts, Micropub::SecretStore &store, Micropub::Client client,
                                     QObject *parent)
    : QObject(parent), m_posts(&posts), m_store(store), m_client(std::move(client))
{}

QString PublishSheetState::sendTitle() const
{
    return m_draftURL ? u"Send Again"_s : u"Send as Draft"_s;
}

QString PublishSheetState::pieceTitle() const
{
    const model::EditorSession *session = m_posts ? m_posts->session() : nullptr;
    if (!session || session->target().kind() != model::SessionTarget::Kind::post)
        return u"This piece"_s;
    return m_posts->displayTitle(session->target().id());
}

std::optional<QString> PublishSheetState::shownDraftURL() const
{
    if (m_phase != Phase::drafted && m_phase != Phase::publishing && m_phase != Phase::published)
        return std::nullopt;
    return m_draftURL;
}

QString PublishSheetState::draftCaption() const
{
    return m_phase == Phase::published ? u"Published"_s : u"Draft on Micro.blog"_s;
}

QString PublishSheetState::linkDestination() const
{
    if (m_phase == Phase::published)
        return m_draftURL.value_or(QString());
    return m_previewURL.value_or(m_draftURL.value_or(QString()));
}

void PublishSheetState::setTokenField(const QString &text)
{
    if (text == m_tokenField)
        return;
    m_tokenField = text;
    emit changed();
}

void PublishSheetState::adoptRecordedURL()
{
    if (m_draftURL || !m_posts)
        return;
    const model::EditorSession *session = m_posts->session();
    if (!session || session->target().kind() != model::SessionTarget::Kind::post)
        return;
    for (const library::Post &post : m_posts->posts()) {
        if (post.id == session->target().id() && post.micropubURL) {
            m_draftURL = post.micropubURL;
            emit changed();
            return;
        }
    }
}

void PublishSheetState::refreshStoredToken()
{
    QCoro::Task<void> detached = [](QPointer<PublishSheetState> self,
                                    Micropub::SecretStore *store) -> QCoro::Task<void> {
        QCoro::Task<std::optional<QString>> reading = Micropub::readToken(*store);
        const std::optional<QString> token = co_await reading;
        if (!self)
            co_return;
        self->m_tokenStored = token.has_value();
        emit self->changed();
    }(QPointer(this), &m_store);
}

void PublishSheetState::sendDraft()
{
    start(Phase::drafting, [](QPointer<PublishSheetState> self, QString token) {
        // The send is the model's and the store's: it runs to its end, and
        // records its draft, whether or not the sheet is still there.
        QCoro::Task<void> detached = [](QPointer<PublishSheetState> self, QPointer<model::PostsModel> posts,
                                        Micropub::Client client, QString token) -> QCoro::Task<void> {
            if (!posts)
                co_return;
            QCoro::Task<Micropub::DraftSend> sending = Micropub::sendDraft(*posts, token, client);
            const Micropub::DraftSend send = co_await sending;
            if (self)
                self->applyDraftOutcome(send);
        }(self, self->m_posts, self->m_client, token);
    });
}

void PublishSheetState::publish()
{
    if (!m_draftURL)
        return;
    start(Phase::publishing, [](QPointer<PublishSheetState> self, QString token) {
        const QString draftURL = self->m_draftURL.value_or(QString());
        if (draftURL.isEmpty()) {
            self->m_refusal = QString::fromUtf8(kNoDraftURL);
            self->m_phase = Phase::drafted;
            emit self->changed();
            return;
        }
        QCoro::Task<void> detached = [](QPointer<PublishSheetState> self, Micropub::Client client, QString url,
                                        QString token) -> QCoro::Task<void> {
            // Always the draft's own URL, never its preview.
            QCoro::Task<Outcome> sending = client.send(client.publishRequest(url, token), false);
            const Outcome outcome = co_await sending;
            if (self)
                self->applyPublishOutcome(outcome);
        }(self, self->m_client, draftURL, token);
    });
}

void PublishSheetState::start(Phase working, std::function<void(QPointer<PublishSheetState>, QString)> run)
{
    if (busy())
        return;
    const Phase previous = m_phase;
    m_phase = working;
    emit changed();
    QCoro::Task<void> detached =
        [](QPointer<PublishSheetState> self, Micropub::SecretStore *store, QString field, Phase previous,
           std::function<void(QPointer<PublishSheetState>, QString)> run) -> QCoro::Task<void> {
        std::optional<QString> token;
        if (Micropub::trimmedToken(field).isEmpty()) {
            QCoro::Task<std::optional<QString>> reading = Micropub::readToken(*store);
            token = co_await reading;
        } else {
            QCoro::Task<Micropub::SaveResult> saving = Micropub::saveToken(*store, field);
            const Micropub::SaveResult saved = co_await saving;
            if (!self)
                co_return;
            switch (saved.which) {
            case Micropub::SaveResult::Case::saved:
                self->m_keyringNote.reset();
                self->m_reentry = false;
                self->refreshStoredToken();
                token = saved.token;
                break;
            case Micropub::SaveResult::Case::notStored:
                qCWarning(sheetLog).noquote() << saved.message;
                self->m_keyringNote = saved.message;
                self->m_reentry = false;
                token = saved.token;
                break;
            case Micropub::SaveResult::Case::refused:
                self->m_refusal = saved.message;
                self->m_phase = previous;
                emit self->changed();
                co_return;
            case Micropub::SaveResult::Case::empty: break;
            }
        }
        if (!self)
            co_return;
        if (!token) {
            self->m_refusal = QString::fromUtf8(kPasteToken);
            self->m_phase = previous;
            emit self->changed();
            co_return;
        }
        self->m_refusal.reset();
        self->m_unrecordedNote.reset();
        emit self->changed();
        run(self, *token);
    }(QPointer(this), &m_store, m_tokenField, previous, std::move(run));
}

void PublishSheetState::failed(const Outcome &outcome)
{
    switch (outcome.which) {
    case Outcome::Case::authFailed:
        // The field comes back for another token.
        m_reentry = true;
        m_refusal = QString::fromUtf8(kRejectedToken) + outcome.message;
        return;
    case Outcome::Case::requestFailed:
        m_refusal = u"Micro.blog said %1: %2"_s.arg(outcome.status).arg(outcome.message);
        return;
    default: m_refusal = outcome.message; return;
    }
}

void PublishSheetState::settle()
{
    m_phase = m_draftURL ? Phase::drafted : Phase::idle;
    emit changed();
}

void PublishSheetState::applyDraftOutcome(const Micropub::DraftSend &send)
{
    const Outcome &outcome = send.outcome;
    switch (outcome.which) {
    case Outcome::Case::drafted:
        m_draftURL = outcome.url;
        m_previewURL = outcome.preview;
        if (send.unrecorded)
            m_unrecordedNote = u"The draft's URL couldn't be saved in the piece, so the next send makes another "
                               u"draft: "_s
                               + *send.unrecorded;
        m_phase = Phase::drafted;
        emit changed();
        return;
    default: failed(outcome); break;
    }
    settle();
}

void PublishSheetState::applyPublishOutcome(const Outcome &outcome)
{
    switch (outcome.which) {
    case Outcome::Case::published:
        m_phase = Phase::published;
        emit changed();
        return;
    default: failed(outcome); break;
    }
    m_phase = Phase::drafted;
    emit changed();
}

} // namespace publish
