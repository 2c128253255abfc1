#include "ui/findbar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int spacing = 8;

} // namespace

FindBar::FindBar(QWidget* parent)
    : QWidget(parent)
    , m_field(new QLineEdit(this))
    , m_matchCase(new QCheckBox(tr("Match case"), this))
    , m_previous(new QPushButton(tr("Previous"), this))
    , m_next(new QPushButton(tr("Next"), this))
    , m_close(new QPushButton(tr("Done"), this))
{
    m_field->setObjectName(QStringLiteral("findField"));
    m_field->setPlaceholderText(tr("Find in every transcript"));
    m_field->setClearButtonEnabled(true);
    m_field->installEventFilter(this);
    m_matchCase->setObjectName(QStringLiteral("matchCaseBox"));
    for (QPushButton* button : {m_previous, m_next, m_close})
        button->setFocusPolicy(Qt::TabFocus);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    row->addWidget(m_field, 1);
    row->addWidget(m_matchCase);
    row->addWidget(m_previous);
    row->addWidget(m_next);
    row->addWidget(m_close);

    connect(m_field, &QLineEdit::textChanged, this, &FindBar::queryChanged);
    connect(m_matchCase, &QCheckBox::toggled, this, &FindBar::queryChanged);
    connect(m_previous, &QPushButton::clicked, this, &FindBar::previousRequested);
    connect(m_next, &QPushButton::clicked, this, &FindBar::nextRequested);
    connect(m_close, &QPushButton::clicked, this, &FindBar::closeRequested);
}

QString FindBar::query() const
{
    return m_field->text();
}

Qt::CaseSensitivity FindBar::caseSensitivity() const
{
    return m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
}

void FindBar::open()
{
    show();
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

bool FindBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_field && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            if (key->modifiers() & Qt::ShiftModifier)
                Q_EMIT previousRequested();
            else
                Q_EMIT nextRequested();
            return true;
        }
        if (key->key() == Qt::Key_Escape) {
            Q_EMIT closeRequested();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
