#pragma once

#include "results/textsearch.h"

#include <QFrame>
#include <QRect>

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

private:
    void find(SearchDirection direction);
    void showStatus(const QString& status);

    ResultsView* m_view;
    QLineEdit* m_field;
    QCheckBox* m_matchCase;
    QLabel* m_status;
    QRect m_viewPlace; // the view's geometry while the bar is closed
};

} // namespace corvanta
