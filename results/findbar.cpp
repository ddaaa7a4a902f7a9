#include "results/findbar.h"

#include "results/resultsaccessible.h"
#include "results/resultsview.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QToolButton>
#include <algorithm>

namespace corvanta {

FindBar::FindBar(ResultsView* view, QWidget* window)
    : QFrame(window)
    , m_view(view)
    , m_field(new QLineEdit(this))
    , m_matchCase(new QCheckBox(tr("Match &case"), this))
    , m_status(new QLabel(this)) {
    installResultsAccessibility();
    setObjectName(QStringLiteral("findBar"));
    setAccessibleName(tr("Find"));
    setFrameShape(QFrame::StyledPanel);
    hide();

    auto* label = new QLabel(tr("&Find:"), this);
    label->setBuddy(m_field);
    m_field->setObjectName(QStringLiteral("findEdit"));
    m_field->setAccessibleName(tr("Find"));
    m_field->setClearButtonEnabled(true);
    m_matchCase->setObjectName(QStringLiteral("matchCaseCheckBox"));
    m_status->setObjectName(QStringLiteral("findStatusLabel"));
    auto* closeButton = new QToolButton(this);
    closeButton->setObjectName(QStringLiteral("closeFindButton"));
    closeButton->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    closeButton->setAutoRaise(true);
    closeButton->setToolTip(tr("Close the find bar (Esc)"));
    closeButton->setAccessibleName(tr("Close find bar"));
    closeButton->setFocusPolicy(Qt::NoFocus);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 2, 2, 2);
    row->addWidget(label);
    row->addWidget(m_field, 2);
    row->addWidget(m_matchCase);
    row->addWidget(m_status, 1);
    row->addWidget(closeButton);

    // Window-wide, so they work from the text as well as from the field.
    const struct {
        const char* name;
        QKeySequence::StandardKey key;
        void (FindBar::*run)();
    } commands[] = {
        {"findAction", QKeySequence::Find, &FindBar::open},
        {"findNextAction", QKeySequence::FindNext, &FindBar::findNext},
        {"findPreviousAction", QKeySequence::FindPrevious, &FindBar::findPrevious},
    };
    for (const auto& command : commands) {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(command.name));
        action->setShortcuts(command.key);
        connect(action, &QAction::triggered, this, command.run);
        window->addAction(action);
    }
    auto* escape = new QAction(this);
    escape->setObjectName(QStringLiteral("closeFindAction"));
    escape->setShortcut(Qt::Key_Escape);
    escape->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    addAction(escape);
    connect(escape, &QAction::triggered, this, &FindBar::dismiss);
    connect(closeButton, &QToolButton::clicked, this, &FindBar::dismiss);
    connect(m_field, &QLineEdit::returnPressed, this, &FindBar::findNext);
    connect(m_field, &QLineEdit::textEdited, this, [this] { showStatus({}); });
}

void FindBar::open() {
    if (isHidden()) {
        m_viewPlace = m_view->geometry();
        const int height = std::min(sizeHint().height(), m_viewPlace.height() / 2);
        m_view->setGeometry(m_viewPlace.adjusted(0, 0, 0, -height));
        setGeometry(m_viewPlace.x(), m_viewPlace.bottom() + 1 - height, m_viewPlace.width(), height);
        show();
        raise();
    }
    m_field->setFocus(Qt::ShortcutFocusReason);
    m_field->selectAll();
}

void FindBar::dismiss() {
    if (isHidden())
        return;
    hide();
    m_view->setGeometry(m_viewPlace);
    m_view->setFocus(Qt::OtherFocusReason);
}

void FindBar::findNext() {
    find(SearchDirection::Forward);
}

void FindBar::findPrevious() {
    find(SearchDirection::Backward);
}

void FindBar::find(SearchDirection direction) {
    if (isHidden())
        open();
    const QString needle = m_field->text();
    if (needle.isEmpty())
        return;
    const bool forward = direction == SearchDirection::Forward;
    const qsizetype from = forward ? m_view->selectionStart() + m_view->selectionLength() : m_view->selectionStart();
    const TextMatch match = findStep(m_view->store(), needle, from, direction,
                                     m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive);
    if (match.start < 0) {
        showStatus(tr("Not found"));
        return;
    }
    m_view->select(match.start, match.start + needle.size());
    m_view->ensureVisible(match.start, match.start + needle.size());
    if (!match.wrapped)
        showStatus({});
    else
        showStatus(forward ? tr("Reached the end, continued from the top")
                           : tr("Reached the top, continued from the end"));
}

void FindBar::showStatus(const QString& status) {
    m_status->setText(status);
    // A screen reader hears the outcome with the field it is in.
    m_field->setAccessibleDescription(status);
}

} // namespace corvanta
