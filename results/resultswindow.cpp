#include "results/resultswindow.h"

#include "engine/join/errorreport.h"
#include "engine/join/steprunner.h"
#include "engine/text/failure.h"
#include "engine/text/textfile.h"
#include "results/findbar.h"
#include "results/resultsview.h"
#include "windowkit/windowkit.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QIcon>
#include <QToolBar>
#include <algorithm>

namespace corvanta {

namespace {

StepRunner::Reporter errorReporter(QWidget* window, const char* location) {
    return [window, location](int step, const QString& description) {
        showApplicationErrorReport(window, applicationErrorReport(description, QString::fromLatin1(location), step));
    };
}

} // namespace

ResultsWindow::ResultsWindow(QWidget* mainWindow)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_mainWindow(mainWindow)
    , m_resultsView(new ResultsView(this))
    , m_programEnd([] { QCoreApplication::exit(0); }) {
    setObjectName(QStringLiteral("Form2"));
    setFixedSize(twipsToPixels(8040), twipsToPixels(10125));
    m_resultsView->setObjectName(QStringLiteral("Text2"));
    m_resultsView->setGeometry(twipsToPixels(120), twipsToPixels(1260), twipsToPixels(7800), twipsToPixels(8775));
    m_resultsView->setFont(controlFont());
    m_resultsView->setText(QStringLiteral("RichTextBox1"));
    new FindBar(m_resultsView, this); // owned by the window
    setUpWindow();
}

ResultsWindow::~ResultsWindow() = default;

void ResultsWindow::setResultsText(const QString& text) {
    m_resultsView->setText(text);
}

void ResultsWindow::setResultsStore(std::shared_ptr<const TextStore> text) {
    m_resultsView->setStore(std::move(text));
}

QString ResultsWindow::resultsText() const {
    return m_resultsView->text();
}

std::shared_ptr<const TextStore> ResultsWindow::resultsStore() const {
    return m_resultsView->sharedStore();
}

void ResultsWindow::showResults() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void ResultsWindow::goBack() {
    StepRunner steps(errorReporter(this, location::GoBack));
    steps.step(106, [this] {
        if (!m_mainWindow)
            throw Failure(QStringLiteral("The main window is no longer there."));
        m_mainWindow->show();
        m_mainWindow->raise();
        m_mainWindow->activateWindow();
    });
    steps.step(108, [this] { hide(); });
    // A joined text read from its working file lets go of it here, so that its space on the disk comes free (the
    // file has had no name since the join ended). A small text stays, in memory, as texts always stayed; nothing
    // shows a large one again before the next join replaces it.
    const TextStore& shown = m_resultsView->store();
    if (!shown.isInMemory())
        m_resultsView->setText(shown.size() <= kKeptAfterBack ? shown.whole() : QString());
}

void ResultsWindow::saveResults() {
    StepRunner steps(errorReporter(this, location::SaveResults));
    // A dialog made for this run opens with an empty file name (a kept one would remember the last).
    QFileDialog dialog(this);
    dialog.setObjectName(QStringLiteral("CommonDialog1"));
    // The overwrite question is this window's own; no default suffix, so a name is used exactly as typed.
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::DontConfirmOverwrite);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!m_saveFolder.isEmpty())
        dialog.setDirectory(m_saveFolder);

    auto answer = QMessageBox::NoButton;
    bool chosen = false;
    QString path;
    steps.step(108, [&] { dialog.setWindowTitle(QStringLiteral("Output File")); });
    steps.step(110, [&] { dialog.setNameFilter(QStringLiteral("XML Files (*.xml)")); });
    steps.step(112, [&] { chosen = dialog.exec() == QDialog::Accepted; });
    steps.step(114, [&] { path = chosen ? dialog.selectedFiles().value(0) : QString(); });
    if (steps.test(116, [&] { return !path.isEmpty(); })) {
        if (steps.test(118, [&] { return fileExists(path); })) {
            steps.step(120, [&] {
                answer = showProgramMessage(
                    this, QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
                    QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
            });
            // Nothing is deleted beforehand: writeFileAtomically replaces the old file only once the new
            // text is wholly written, so a failed save keeps it.
        } else {
            steps.step(126, [&] { answer = QMessageBox::Yes; });
        }
    }
    bool written = true;
    if (steps.test(128, [&] { return answer == QMessageBox::Yes; })) {
        // The text's own bytes: for a joined text, a copy of the working file.
        written = steps.step(
            130, [&] { writeFileAtomically(path, [&](ByteSink& sink) { m_resultsView->store().writeTo(sink); }); });
        if (written)
            m_saveFolder = QFileInfo(path).absolutePath();
    }
    // After a failed write the report has been shown; "Done." would call the failure a success.
    if (written)
        steps.step(132, [&] { showProgramMessage(this, QStringLiteral("Done.")); });
}

void ResultsWindow::copyToClipboard() {
    m_resultsView->selectAll();
    // Declined as too large, the clipboard keeps what it held, and nothing was copied to say so.
    if (m_resultsView->selectionLength() > 0 && !m_resultsView->copy())
        return;
    showProgramMessage(this, QStringLiteral("Results have been copied to the clipboard.\r\rClick a text area where "
                                            "you normally type and press Ctrl+V to paste the clipboard."));
}

void ResultsWindow::setProgramEnd(std::function<void()> end) {
    m_programEnd = std::move(end);
}

void ResultsWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    if (m_programEnd)
        m_programEnd();
}

void ResultsWindow::setUpWindow() {
    applyFaceColor(this);
    centerWindow(this);
    centerWhenFramed(this);
    setWindowTitle(QStringLiteral("Corvanta"));
    // A missing picture keeps the icon the application gave every window.
    const QIcon icon(QStringLiteral(":/icons/corvanta.png"));
    if (!icon.isNull())
        setWindowIcon(icon);
    buildToolBar();
}

void ResultsWindow::buildToolBar() {
    const auto command = [this](const QString& icon, const QString& caption, void (ResultsWindow::*run)()) {
        auto* action = new QAction(QIcon(icon), caption, this);
        connect(action, &QAction::triggered, this, run);
        return action;
    };
    QToolBar* bar = buildStandardToolBar(
        this, {{command(QStringLiteral(":/icons/back.png"), QStringLiteral("Back"), &ResultsWindow::goBack),
                QStringLiteral("back"), 100}, // named as resultsbar:: says, less "Button"
               {command(QStringLiteral(":/icons/save-results.png"), QStringLiteral("Save Results"),
                        &ResultsWindow::saveResults),
                QStringLiteral("saveResults"), 100},
               {command(QStringLiteral(":/icons/save-clipboard.png"), QStringLiteral("Save Results To Clipboard"),
                        &ResultsWindow::copyToClipboard),
                QStringLiteral("saveClipboard"), 180}});
    // A plain window has no tool bar area: docked at the top across the whole width by hand, and no lower than the
    // text box below it; the window has a fixed size, so this holds.
    bar->setGeometry(0, 0, width(), std::min(bar->sizeHint().height(), m_resultsView->y()));
}

} // namespace corvanta
