#pragma once
// The question before a research note lands in the piece: a preview of the
// note, Keep and Cancel. Keep writes the note into the piece's research/
// folder and marks its transcript row kept; a refused write shows in orange
// and the sheet stays for another try.

#include "engine/mentorsessionmodel.h"

#include <QDialog>
#include <QUuid>

class QLabel;
class QPushButton;

namespace engine {

class ResearchKeepSheet : public QDialog {
    Q_OBJECT
public:
    ResearchKeepSheet(MentorSessionModel &model, const QUuid &rowID, review::ResearchCandidate candidate, QString home,
                      QWidget *parent = nullptr);

    void keep();
    // The last refusal, empty before one.
    QString refusal() const;
    QPushButton *keepButton() const { return m_keep; }
    QPushButton *cancelButton() const { return m_cancel; }

private:
    MentorSessionModel &m_model;
    QUuid m_rowID;
    review::ResearchCandidate m_candidate;
    QString m_home;
    QLabel *m_refusal;
    QPushButton *m_keep;
    QPushButton *m_cancel;
};

} // namespace engine
