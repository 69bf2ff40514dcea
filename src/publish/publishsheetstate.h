#pragma once
// What the publish sheet shows and does, without a window: the two steps
// (send as a draft, then publish it), the app token taken once and kept in
// the secret store, and every refusal the writer reads. The sheet's view
// draws from it and calls its actions.
//
// A send or publish that is under way outlives the state: closing the sheet
// cancels neither, a completed draft still records its URL in the piece, and
// nothing is applied to a state that has gone.

#include "publish/apptoken.h"
#include "publish/micropub.h"
#include "publish/senddraft.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <optional>

namespace model {
class PostsModel;
}

namespace publish {

class PublishSheetState : public QObject {
    Q_OBJECT
public:
    enum class Phase { idle, drafting, drafted, publishing, published };

    static constexpr const char *kPasteToken = "Paste your Micro.blog app token first.";
    static constexpr const char *kRejectedToken = "Micro.blog rejected the token: ";
    static constexpr const char *kNoDraftURL = "No draft URL on this piece — send it as a draft first.";

    // The store and the client outlive every task the state starts.
    PublishSheetState(model::PostsModel &posts, Micropub::SecretStore &store, Micropub::Client client,
                      QObject *parent = nullptr);

    Phase phase() const { return m_phase; }
    const std::optional<QString> &draftURL() const { return m_draftURL; }
    const std::optional<QString> &previewURL() const { return m_previewURL; }
    const std::optional<QString> &refusal() const { return m_refusal; }
    // A draft was made but its URL could not be written into the piece.
    const std::optional<QString> &unrecordedNote() const { return m_unrecordedNote; }
    // The pasted token could not be kept in the keyring: it served this send.
    const std::optional<QString> &keyringNote() const { return m_keyringNote; }
    const QString &tokenField() const { return m_tokenField; }
    bool reentry() const { return m_reentry; }
    // None until the stored token has been looked for.
    std::optional<bool> tokenStored() const { return m_tokenStored; }

    // The token field shows after a rejected token, or once the store is
    // known to hold none.
    bool showsTokenField() const { return m_reentry || m_tokenStored == false; }
    bool busy() const { return m_phase == Phase::drafting || m_phase == Phase::publishing; }
    bool canPublish() const { return m_draftURL && !busy(); }
    bool canSend() const { return !busy(); }
    // "Send Again" once a draft URL is known, else "Send as Draft".
    QString sendTitle() const;
    // The open piece's display title, or "This piece".
    QString pieceTitle() const;
    // The draft block's URL: while drafted, publishing or published.
    std::optional<QString> shownDraftURL() const;
    // "Published" or "Draft on Micro.blog".
    QString draftCaption() const;
    // Where the draft link goes: the draft once published, else the preview
    // when the service gave one, else the draft.
    QString linkDestination() const;

    void setTokenField(const QString &text);

    // When the sheet is shown: the open piece's recorded URL (phase stays
    // idle), and the stored token looked for.
    void adoptRecordedURL();
    void refreshStoredToken();
    // Behind "Send as Draft" and "Send Again", and behind "Publish".
    void sendDraft();
    void publish();

    void applyDraftOutcome(const Micropub::DraftSend &send);
    void applyPublishOutcome(const Micropub::Outcome &outcome);

signals:
    void changed();

private:
    // Sets the phase to working, resolves the token and runs run with it;
    // without a token the refusal shows and the phase goes back.
    void start(Phase working, std::function<void(QPointer<PublishSheetState>, QString)> run);
    // The refusal text of a failed outcome; a rejected token brings the field
    // back.
    void failed(const Micropub::Outcome &outcome);
    void settle();

    QPointer<model::PostsModel> m_posts;
    Micropub::SecretStore &m_store;
    Micropub::Client m_client;
    Phase m_phase = Phase::idle;
    std::optional<QString> m_draftURL;
    std::optional<QString> m_previewURL;
    std::optional<QString> m_refusal;
    std::optional<QString> m_unrecordedNote;
    std::optional<QString> m_keyringNote;
    QString m_tokenField;
    bool m_reentry = false;
    std::optional<bool> m_tokenStored;
};

} // namespace publish
