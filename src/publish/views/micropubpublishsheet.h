#pragma once
// The publish sheet: the open piece sent to Micro.blog as a draft, then
// published, with the app token taken once. A thin view over
// PublishSheetState, which does the work; closing the sheet stops nothing
// that is under way.

#include "publish/publishsheetstate.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace app {
class BusyIndicator;
}

namespace publish {

class MicropubPublishSheet : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 340;
    static constexpr int kInset = 16;

    // Reads the recorded draft URL and looks for the stored token at once.
    MicropubPublishSheet(model::PostsModel &posts, Micropub::SecretStore &store, Micropub::Client client,
                         QWidget *parent = nullptr);

    PublishSheetState &state() { return *m_state; }
    QLineEdit *tokenField() const { return m_tokenField; }
    QLabel *tokenHint() const { return m_tokenHint; }
    QLabel *titleLabel() const { return m_title; }
    QLabel *draftCaption() const { return m_caption; }
    QLabel *draftLink() const { return m_link; }
    QLabel *refusalLabel() const { return m_refusal; }
    QLabel *noteLabel() const { return m_note; }
    app::BusyIndicator *progress() const { return m_progress; }
    QPushButton *publishButton() const { return m_publish; }
    QPushButton *sendButton() const { return m_send; }
    QPushButton *cancelButton() const { return m_cancel; }
    QPushButton *doneButton() const { return m_done; }

private:
    void refresh();

    PublishSheetState *m_state;
    QLabel *m_title;
    QLineEdit *m_tokenField;
    QLabel *m_tokenHint;
    app::BusyIndicator *m_progress;
    QWidget *m_draftBlock;
    QLabel *m_caption;
    QLabel *m_link;
    QLabel *m_refusal;
    QLabel *m_note;
    QPushButton *m_publish;
    QPushButton *m_send;
    QPushButton *m_cancel;
    QPushButton *m_done;
};

} // namespace publish
