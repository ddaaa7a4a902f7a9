#include "shell/mainjoinhost.h"

#include "engine/join/joincommand.h"
#include "filelist/filelistview.h"
#include "results/resultswindow.h"
#include "shell/busypointer.h"
#include "shell/mainwindow.h"
#include "windowkit/windowkit.h"

#include <QProgressBar>
#include <QRadioButton>
#include <QScopeGuard>
#include <cmath>

namespace corvanta {

MainJoinHost::MainJoinHost(MainWindow& window, BusyPointer& busyPointer, FileListView& list, QRadioButton& appendButton,
                           QProgressBar& progressBar)
    : m_window(window)
    , m_busyPointer(busyPointer)
    , m_list(list)
    , m_appendButton(appendButton)
    , m_progressBar(progressBar) {}

int MainJoinHost::itemCount() const {
    return m_list.itemCount();
}

QString MainJoinHost::itemText(int index) const {
    return m_list.itemText(index);
}

bool MainJoinHost::appendSelected() const {
    return m_appendButton.isChecked();
}

QString MainJoinHost::wrapRootName() const {
    return m_window.wrapRootName();
}

bool MainJoinHost::combineSelected() const {
    return m_window.combineSelected();
}

bool MainJoinHost::uniqueNodes() const {
    return m_window.uniqueNodes();
}

bool MainJoinHost::skipBadInputs() const {
    return m_window.skipBadFiles();
}

void MainJoinHost::setBusyPointer(bool busy) {
    if (!busy && m_busyHolds == 0)
        return;
    m_busyHolds += busy ? 1 : -1;
    m_busyPointer.setBusy(busy);
}

void MainJoinHost::releaseBusyPointer() {
    while (m_busyHolds > 0)
        setBusyPointer(false);
}

void MainJoinHost::setProgress(double percent) {
    m_progressBar.setValue(int(std::lround(percent * progressScale)));
}

void MainJoinHost::showMessage(const QString& text, Icon icon) {
    showProgramMessage(&m_window, text, icon == Icon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon);
}

void MainJoinHost::showErrorReport(const QString& text) {
    showApplicationErrorReport(&m_window, text);
}

void MainJoinHost::setResultsText(const JoinedText& text) {
    setResultsStore(text.store());
}

void MainJoinHost::setResultsText(const QString& text) {
    m_window.resultsWindow().setResultsText(text);
}

void MainJoinHost::setResultsStore(std::shared_ptr<const TextStore> text) {
    m_window.resultsWindow().setResultsStore(std::move(text));
}

void MainJoinHost::showResults() {
    // Loads the window here when the text could not be read: it then shows what it holds.
    m_window.resultsWindow().showResults();
    m_resultsShown = true;
}

void MainJoinHost::hideMain() {
    m_window.hide();
}

JoinObserver& MainJoinHost::joinObserver() {
    return m_report ? *m_report : JoinHost::joinObserver();
}

void MainJoinHost::startReport(JoinReport& report) {
    m_report = &report;
    m_resultsShown = false;
}

bool MainJoinHost::finishReport() {
    m_report = nullptr;
    return m_resultsShown;
}

} // namespace corvanta
