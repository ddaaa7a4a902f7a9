#pragma once

#include "results/backgroundfind.h"
#include "results/textsearch.h"

#include <QFrame>
#include <QRect>
#include <QTimer>

class QCheckBox;
class QLabel;
class QLineEdit;

namespace corvanta {

class ResultsView;

/// The find field of a window that shows a ResultsView. Ctrl+F opens it across the bottom of the view (the view
/// gives up that much height, so the window keeps its size); Enter or F3 selects the next match and scrolls it
/// into view, Shift+F3 the previous one. The search is for plain text, case-insensitive unless asked otherwise,
/// and wraps around at the ends; the bar says when it wrapped and when nothing was found. Escape closes it and
/// gives the focus back to the text.
///
/// A step over a large stored text runs beside the window, which answers meanwhile; past a moment the bar says it is
/// searching. Another step, a change to the field or the case, closing the bar or the window, and another text in
/// the view each stop it, and a stopped step leaves the caret where it is.
class FindBar : public QFrame {
    Q_OBJECT

public:
    /// Adds the find commands to \a window, which holds \a view and becomes the bar's parent.
    FindBar(ResultsView* view, QWidget* window);

    /// Shows the bar, if it is not open yet, and puts the focus in its field with the field's text selected.
    void open();
    /// Hides the bar, gives the view its height back and the focus to it.
    void dismiss();
    /// One find step; opens the bar first when it is closed, and only opens it when the field is empty.
    void findNext();
    void findPrevious();

    /// Texts held in memory, and stored texts of at most this many characters, are searched on the window's
    /// thread: a step over them takes a few tens of milliseconds at most.
    static constexpr qsizetype kSynchronousFindSize = qsizetype(4) << 20;

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void find(SearchDirection direction);
    void showMatch(const TextMatch& match, qsizetype length, SearchDirection direction);
    void onSearchFound(const TextMatch& match);
    void onSearchFailed();
    void cancelSearch();
    void showStatus(const QString& status);

    ResultsView* m_view;
    QLineEdit* m_field;
    QCheckBox* m_matchCase;
    QLabel* m_status;
    QRect m_viewPlace; // the view's geometry while the bar is closed
    // The step running beside the window: the length of its needle and its direction, for showing where it lands.
    qsizetype m_searchedLength = 0;
    SearchDirection m_searchedDirection = SearchDirection::Forward;
    QTimer m_searchingShown; // says "Searching…" once a step takes longer than a moment
    BackgroundFind m_search; // last: it goes first, stopping a running step before the rest goes
};

} // namespace corvanta
