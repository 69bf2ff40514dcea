#include "librarysheets.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

namespace panes {

using app::Palette;
using app::Typeface;

namespace {

constexpr int sheetWidth = 360;
constexpr const char *projectProperty = "project";

QVBoxLayout *sheetLayout(QDialog &sheet)
{
    sheet.setFixedWidth(sheetWidth);
    return app::sheetColumn(sheet);
}

QLabel *heading(const QString &text)
{
    auto *label = new QLabel(text);
    label->setFont(app::sheetTitleFont());
    return label;
}

QLabel *callout(const QString &text)
{
    QLabel *label = app::plainLabel(text, Typeface::font(QFont().family(), 13), Palette::inkMuted());
    label->setWordWrap(true);
    label->setFixedWidth(sheetWidth - 40);
    return label;
}

// Cancel (Escape) and the default button (Return), at the trailing end.
QHBoxLayout *buttonRow(QDialog &sheet, QPushButton *cancel, QPushButton *action)
{
    cancel->setAutoDefault(false);
    action->setAutoDefault(false);
    action->setDefault(true);
    QObject::connect(cancel, &QPushButton::clicked, &sheet, &QDialog::reject);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(cancel);
    row->addWidget(action);
    return row;
}

} // namespace

RenamePostSheet::RenamePostSheet(const QString &title, Rename rename, QWidget *parent)
    : QDialog(parent), m_action(std::move(rename)), m_title(new QLineEdit(title)),
      m_cancel(new QPushButton(u"Cancel"_s)), m_rename(new QPushButton(u"Rename"_s))
{
    setWindowTitle(u"Rename Post"_s);
    QVBoxLayout *layout = sheetLayout(*this);
    layout->addWidget(heading(u"Rename Post"_s));
    layout->addWidget(callout(u"The folder moves to match the new Title. The file stays post.md."_s));
    m_title->setAccessibleName(u"Title"_s);
    m_title->setPlaceholderText(u"Title"_s);
    layout->addWidget(m_title);
    layout->addLayout(buttonRow(*this, m_cancel, m_rename));
    connect(m_rename, &QPushButton::clicked, this, &RenamePostSheet::submit);
    const auto update = [this] { m_rename->setEnabled(!m_title->text().trimmed().isEmpty()); };
    connect(m_title, &QLineEdit::textChanged, this, update);
    update();
}

void RenamePostSheet::submit()
{
    const QString title = m_title->text().trimmed();
    if (title.isEmpty())
        return;
    m_action(title);
    accept();
}

MoveToProjectSheet::MoveToProjectSheet(const library::Post &post, const QStringList &projects, Move move,
                                       QWidget *parent)
    : QDialog(parent), m_post(post), m_action(std::move(move)), m_target(post.project),
      m_choices(new QButtonGroup(this)), m_cancel(new QPushButton(u"Cancel"_s)), m_move(new QPushButton(u"Move"_s))
{
    setWindowTitle(u"Move to Project"_s);
    QVBoxLayout *layout = sheetLayout(*this);
    layout->addWidget(heading(u"Move to Project"_s));
    layout->addWidget(
        callout(u"\u201c"_s + post.title + u"\u201d moves into the chosen project. The file stays post.md."_s));
    auto *label = new QLabel(u"Project"_s);
    layout->addWidget(label);
    auto *list = new QWidget;
    auto *listLayout = new QVBoxLayout(list);
    listLayout->setContentsMargins(0, 0, 0, 0);
    listLayout->setSpacing(6);
    m_choices->setExclusive(true);
    for (const QString &project : projects) {
        // Names are shown as typed: an ampersand is no mnemonic.
        auto *button = new QRadioButton(QString(project).replace(u'&', u"&&"_s));
        button->setProperty(projectProperty, project);
        button->setChecked(project == m_target);
        m_choices->addButton(button);
        listLayout->addWidget(button);
        connect(button, &QRadioButton::toggled, this, [this, button, project](bool on) {
            if (on)
                choose(project);
        });
    }
    // A long list of projects scrolls rather than growing the sheet past the window.
    auto *scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidget(list);
    scroll->setWidgetResizable(true);
    scroll->setFixedHeight(std::min(list->sizeHint().height(), 260));
    scroll->setAccessibleName(u"Project"_s);
    layout->addWidget(scroll);
    layout->addLayout(buttonRow(*this, m_cancel, m_move));
    connect(m_move, &QPushButton::clicked, this, &MoveToProjectSheet::confirm);
    updateMoveButton();
}

void MoveToProjectSheet::choose(const QString &project)
{
    m_target = project;
    for (QAbstractButton *button : m_choices->buttons()) {
        if (button->property(projectProperty).toString() == project && !button->isChecked())
            button->setChecked(true);
    }
    updateMoveButton();
}

void MoveToProjectSheet::updateMoveButton()
{
    m_move->setEnabled(m_target != m_post.project);
}

void MoveToProjectSheet::confirm()
{
    if (m_target == m_post.project)
        return;
    m_action(m_target);
    accept();
}

QStringList MoveToProjectSheet::offeredProjects() const
{
    QStringList names;
    for (QAbstractButton *button : m_choices->buttons())
        names.append(button->property(projectProperty).toString());
    return names;
}

QString MoveToProjectSheet::checkedProject() const
{
    QAbstractButton *checked = m_choices->checkedButton();
    return checked ? checked->property(projectProperty).toString() : QString();
}

} // namespace panes
