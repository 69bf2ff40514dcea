#include "app/workspacesheets.h"

#include "chrome/palette.h"
#include "chrome/workspacechrome.h"
#include "foundation/text.h"

#include <QApplication>
#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace app {

using library::Post;

namespace {

QLabel *wrappedLabel(const QString &text, const QFont &font, const QColor &colour)
{
    QLabel *label = plainLabel(text, font, colour);
    label->setWordWrap(true);
    return label;
}

QFont systemFont(int pixelSize)
{
    QFont font = QApplication::font();
    font.setPixelSize(pixelSize);
    return font;
}

} // namespace

// --- WorkspaceSheet ----------------------------------------------------------------

WorkspaceSheet::WorkspaceSheet(int width, const QString &title, QWidget *parent)
    : QDialog(parent), m_contentWidth(width - 40)
{
    setWindowTitle(title);
    setModal(true);
    fillBackground(this, Palette::canvas());
    m_column = sheetColumn(*this);
    QLabel *heading = wrappedLabel(title, sheetTitleFont(), Palette::ink());
    heading->setObjectName(QStringLiteral("title"));
    heading->setFixedWidth(m_contentWidth);
    m_column->addWidget(heading);
}

void WorkspaceSheet::addText(const QString &text, bool caption)
{
    QLabel *label = wrappedLabel(text, systemFont(caption ? 11 : 12), Palette::inkMuted());
    label->setFixedWidth(m_contentWidth);
    m_texts << label;
    m_column->addWidget(label);
}

void WorkspaceSheet::addControl(QWidget *control)
{
    m_column->addWidget(control);
}

void WorkspaceSheet::addButtons(const QStringList &titles)
{
    auto *row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("Cancel"));
    cancel->setAutoDefault(false);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    row->addWidget(cancel);
    for (const QString &title : titles) {
        auto *button = new QPushButton(title);
        button->setObjectName(title);
        button->setAutoDefault(false);
        button->setDefault(title == titles.last());
        row->addWidget(button);
    }
    m_column->addLayout(row);
}

QPushButton *WorkspaceSheet::button(const QString &title) const
{
    return findChild<QPushButton *>(title);
}

QStringList WorkspaceSheet::explanatoryTexts() const
{
    QStringList texts;
    for (const QLabel *label : m_texts)
        texts << label->text();
    return texts;
}

// --- OriginAskSheet ----------------------------------------------------------------

QString OriginAskSheet::countText(int count)
{
    if (count == 1)
        return QStringLiteral("Importing 1 file as a Post — the original is untouched.");
    return QStringLiteral("Importing %1 files as Posts — the originals are untouched.").arg(count);
}

OriginAskSheet::OriginAskSheet(int count, std::function<void(Post::Origin)> answer, QWidget *parent)
    : WorkspaceSheet(380, QStringLiteral("Who wrote this?"), parent), m_answer(std::move(answer)),
      m_choices(new QButtonGroup(this))
{
    addText(countText(count));
    auto *picker = new QWidget;
    picker->setAccessibleName(QStringLiteral("Origin"));
    auto *row = new QHBoxLayout(picker);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    auto *label = new QLabel(QStringLiteral("Origin:"));
    label->setFont(systemFont(13));
    row->addWidget(label, 0, Qt::AlignTop);
    auto *choices = new QVBoxLayout;
    choices->setSpacing(6);
    row->addLayout(choices);
    row->addStretch(1);
    const std::pair<const char *, Post::Origin> options[] = {{"I wrote it (writer)", Post::Origin::writer},
                                                             {"AI-assisted (ai)", Post::Origin::ai}};
    for (const auto &[title, origin] : options) {
        auto *radio = new QRadioButton(QString::fromUtf8(title));
        radio->setObjectName(QString::fromUtf8(title));
        m_choices->addButton(radio, int(origin));
        choices->addWidget(radio);
    }
    addControl(picker);
    setOrigin(Post::Origin::writer);
    addText(QStringLiteral("Origin is stamped once and never asked again — it decides whether the draft's stats can "
                           "measure you."),
            true);
    addButtons({QStringLiteral("Import")});
    connect(button(QStringLiteral("Import")), &QPushButton::clicked, this, [this] {
        if (m_answer)
            m_answer(origin());
        accept();
    });
}

Post::Origin OriginAskSheet::origin() const
{
    return Post::Origin::Value(m_choices->checkedId());
}

void OriginAskSheet::setOrigin(Post::Origin origin)
{
    m_choices->button(int(origin))->setChecked(true);
}

// --- NewProjectSheet ---------------------------------------------------------------

NewProjectSheet::NewProjectSheet(Create create, QWidget *parent)
    : WorkspaceSheet(360, QStringLiteral("New Project"), parent), m_create(std::move(create)), m_name(new QLineEdit)
{
    addText(QStringLiteral("Pieces land here when it's selected."));
    m_name->setObjectName(QStringLiteral("Name"));
    m_name->setPlaceholderText(QStringLiteral("Name"));
    m_name->setAccessibleName(QStringLiteral("Name"));
    m_name->setFixedWidth(m_contentWidth);
    addControl(m_name);
    m_failureLabel = wrappedLabel(QString(), Typeface::font(Typeface::mono(), 11), Palette::accent());
    m_failureLabel->setObjectName(QStringLiteral("failure"));
    m_failureLabel->setFixedWidth(m_contentWidth);
    m_failureLabel->hide();
    addControl(m_failureLabel);
    addButtons({QStringLiteral("Create")});
    connect(button(QStringLiteral("Create")), &QPushButton::clicked, this, &NewProjectSheet::submit);
    connect(m_name, &QLineEdit::textChanged, this, &NewProjectSheet::updateCreate);
    updateCreate();
}

void NewProjectSheet::updateCreate()
{
    button(QStringLiteral("Create"))->setEnabled(!foundation::text::isBlank(m_name->text()));
}

void NewProjectSheet::submit()
{
    const QString name = foundation::text::trimSpacesAndNewlines(m_name->text());
    if (name.isEmpty())
        return;
    const std::optional<QString> failure = m_create ? m_create(name) : std::nullopt;
    if (failure) {
        m_failure = failure;
        m_failureLabel->setText(*failure);
        m_failureLabel->show();
        return;
    }
    accept();
}

// --- OutlineGuardSheet -------------------------------------------------------------

OutlineGuardSheet::OutlineGuardSheet(std::function<void()> openInProse, std::function<void()> openAsOutline,
                                     QWidget *parent)
    : WorkspaceSheet(420, QStringLiteral("Open as outline or prose?"), parent)
{
    addText(QStringLiteral("This outline has paragraph lines between its bullets. The outliner can't show them — "
                           "opening as an outline drops them on the next save. Prose mode shows everything."));
    addText(QStringLiteral("Outline mode keeps its bullets, indentation, and folding. You can convert or clean up "
                           "later."));
    addButtons({QStringLiteral("Open as Outline"), QStringLiteral("Open in Prose")});
    connect(button(QStringLiteral("Open as Outline")), &QPushButton::clicked, this, std::move(openAsOutline));
    connect(button(QStringLiteral("Open in Prose")), &QPushButton::clicked, this, std::move(openInProse));
}

// --- ConvertSheet ------------------------------------------------------------------

ConvertSheet::ConvertSheet(bool lossy, std::function<void(bool)> convert, QWidget *parent)
    : WorkspaceSheet(440, QStringLiteral("Convert to Post"), parent)
{
    addText(QStringLiteral("The piece keeps its name, project, and Pass State — it becomes a prose post. How should "
                           "the outline body read?"));
    if (lossy)
        addText(QStringLiteral("This outline has paragraph lines between its bullets. The headings ladder drops "
                               "them; verbatim keeps every line."));
    addText(QStringLiteral("Verbatim keeps the bullets as they are; Headings turns top-level blocks into section "
                           "headings, deeper levels step down."));
    addButtons({QStringLiteral("Headings"), QStringLiteral("Verbatim Bullets")});
    connect(button(QStringLiteral("Headings")), &QPushButton::clicked, this, [convert] { convert(true); });
    connect(button(QStringLiteral("Verbatim Bullets")), &QPushButton::clicked, this, [convert] { convert(false); });
}

} // namespace app
