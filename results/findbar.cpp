#include "results/findbar.h"

#include "results/resultsaccessible.h"
#include "results/resultsview.h"

#include <QAction>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHideEvent>
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
    connect(m_field, &QLineEdit::textEdited, this, [this] {
        cancelSearch();
        showStatus({});
    });
    connect(m_matchCase, &QCheckBox::toggled, this, &FindBar::cancelSearch);
    connect(m_view, &ResultsView::textReplaced, this, &FindBar::cancelSearch);

    // A step that ends within a moment changes the status once, as a step on this thread does.
    constexpr int kSearchingShownAfterMs = 200;
    m_searchingShown.setSingleShot(true);
    m_searchingShown.setInterval(kSearchingShownAfterMs);
    connect(&m_searchingShown, &QTimer::timeout, this, [this] { showStatus(tr("Searching…")); });
    connect(&m_search, &BackgroundFind::found, this, &FindBar::onSearchFound);
    connect(&m_search, &BackgroundFind::failed, this, &FindBar::onSearchFailed);
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
    cancelSearch();
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

void FindBar::hideEvent(QHideEvent* event) {
    // The window closing or going back hides the bar with it; only being minimised is spontaneous.
    if (!event->spontaneous())
        cancelSearch();
    QFrame::hideEvent(event);
}

void FindBar::find(SearchDirection direction) {
    cancelSearch();
    if (isHidden())
        open();
    const QString needle = m_field->text();
    if (needle.isEmpty())
        return;
    const bool forward = direction == SearchDirection::Forward;
    const qsizetype from = forward ? m_view->selectionStart() + m_view->selectionLength() : m_view->selectionStart();
    const Qt::CaseSensitivity cs = m_matchCase->isChecked() ? Qt::CaseSensitive : Qt::CaseInsensitive;
    const TextStore& text = m_view->store();
    if (text.isInMemory() || text.size() <= kSynchronousFindSize) {
        showMatch(findStep(text, needle, from, direction, cs), needle.size(), direction);
        return;
    }
    m_searchedLength = needle.size();
    m_searchedDirection = direction;
    m_search.start(m_view->sharedStore(), needle, from, direction, cs);
    m_searchingShown.start();
}

void FindBar::showMatch(const TextMatch& match, qsizetype length, SearchDirection direction) {
    if (match.start < 0) {
        showStatus(tr("Not found"));
        return;
    }
    m_view->select(match.start, match.start + length);
    m_view->ensureVisible(match.start, match.start + length);
    if (!match.wrapped)
        showStatus({});
    else
        showStatus(direction == SearchDirection::Forward ? tr("Reached the end, continued from the top")
                                                         : tr("Reached the top, continued from the end"));
}

void FindBar::onSearchFound(const TextMatch& match) {
    m_searchingShown.stop();
    showMatch(match, m_searchedLength, m_searchedDirection);
}

void FindBar::onSearchFailed() {
    m_searchingShown.stop();
    showStatus({});
}

void FindBar::cancelSearch() {
    m_searchingShown.stop();
    // A status the stopped step left would speak of it; one from the step before stays.
    if (m_search.cancel() && m_status->text() == tr("Searching…"))
        showStatus({});
}

void FindBar::showStatus(const QString& status) {
    m_status->setText(status);
    // A screen reader hears the outcome with the field it is in.
    m_field->setAccessibleDescription(status);
}

} // namespace corvanta
