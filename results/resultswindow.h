#pragma once

#include "engine/text/textstore.h"

#include <QPointer>
#include <QString>
#include <QWidget>
#include <functional>

namespace corvanta {

class ResultsView;

/// Object names of the results window's tool bar buttons, by which tests and accessibility tools find them.
namespace resultsbar {
inline constexpr char back[] = "backButton";
inline constexpr char saveResults[] = "saveResultsButton";
inline constexpr char saveClipboard[] = "saveClipboardButton";
} // namespace resultsbar

/// The results window: shows the joined text and saves it to a file or the clipboard; Back returns to the main
/// window. It is created once, on first use, and afterwards only hidden and shown. Closing it ends the program.
class ResultsWindow : public QWidget {
    Q_OBJECT

public:
    /// Builds and loads the window (face colour, centred on the screen, caption, icon, toolbar); \a mainWindow is
    /// the window that Back shows again.
    explicit ResultsWindow(QWidget* mainWindow);
    ~ResultsWindow() override;

    /// Hand-off: replaces the results text whole.
    void setResultsText(const QString& text);
    /// Hand-off of a text of any size, read from \a text as the window needs it.
    void setResultsStore(std::shared_ptr<const TextStore> text);
    /// The whole results text exactly as it was set: for a text known to be small.
    QString resultsText() const;
    /// The results text as the window reads it.
    std::shared_ptr<const TextStore> resultsStore() const;
    /// Hand-off: shows the window, not modal, in front.
    void showResults();

    /// Shows the main window again and hides this one. A joined text read from its working file lets go of the
    /// file; the window keeps the text only when it has at most kKeptAfterBack characters.
    void goBack();
    static constexpr qsizetype kKeptAfterBack = qsizetype(1) << 20;
    /// Asks for a file and writes the results text to it.
    void saveResults();
    /// Copies the whole results text to the clipboard.
    void copyToClipboard();

    /// What closing this window does; ends the program at once by default, without any close procedure of the
    /// main window running. Tests replace it.
    void setProgramEnd(std::function<void()> end);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void setUpWindow();
    void buildToolBar();

    QPointer<QWidget> m_mainWindow;
    ResultsView* m_resultsView;
    QString m_saveFolder; // the save dialog opens where the last file was saved
    std::function<void()> m_programEnd;
};

} // namespace corvanta
