#include "shell/mainwindow.h"

#include "engine/files/pathlist.h"
#include "engine/report/inputcheck.h"
#include "engine/report/joinreport.h"
#include "engine/text/failure.h"
#include "engine/xml/xmlwrap.h"
#include "filelist/addfilesdialog.h"
#include "filelist/backgroundwalk.h"
#include "filelist/browseforfolder.h"
#include "filelist/filelistview.h"
#include "filelist/shelldrop.h"
#include "results/resultswindow.h"
#include "shell/backgroundjoin.h"
#include "shell/helplinks.h"
#include "shell/listfiles.h"
#include "shell/mainjoinhost.h"
#include "shell/menunames.h"
#include "shell/tabcontrol.h"
#include "windowkit/windowkit.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QRadioButton>
#include <QShowEvent>
#include <QThread>
#include <QTimer>
#include <QToolBar>

namespace corvanta {

namespace {

const QString startCaption = QStringLiteral("Start Joining");
const QString stopCaption = QStringLiteral("Stop");
const QString startIcon = QStringLiteral(":/icons/start-joining.png");
const QString stopIcon = QStringLiteral(":/icons/stop.png");

QFont tabCaptionFont() {
    QFont font = controlFont();
    font.setBold(false);
    return font;
}

QPoint twipsPoint(double left, double top) {
    return {twipsToPixels(left), twipsToPixels(top)};
}

double widthOf(const QWidget* widget) {
    return pixelsToTwips(widget->width());
}

double heightOf(const QWidget* widget) {
    return pixelsToTwips(widget->height());
}

// Each layout assignment stands on its own: one that would give a negative size is skipped, the rest still run.
void assignWidth(QWidget* widget, double twips) {
    if (twips >= 0)
        widget->resize(twipsToPixels(twips), widget->height());
}

void assignHeight(QWidget* widget, double twips) {
    if (twips >= 0)
        widget->resize(widget->width(), twipsToPixels(twips));
}

void assignColumnWidth(QTreeView* list, double twips) {
    if (twips >= 0)
        list->setColumnWidth(0, twipsToPixels(twips));
}

// An option button at its designed place inside the frame, never narrower or lower than its text. Styles that draw
// the frame's caption above its border rather than on it would put the first row on the border: the buttons move
// down just enough to clear a full caption line.
void placeOption(QRadioButton* button, const QGroupBox* frame, double left, double top, double width, double height) {
    constexpr int gapBelowCaption = 4;
    const int shift = qMax(0, frame->fontMetrics().height() + gapBelowCaption - twipsToPixels(300));
    button->setGeometry(twipsToPixels(left), twipsToPixels(top) + shift,
                        qMax(twipsToPixels(width), button->sizeHint().width()),
                        qMax(twipsToPixels(height), button->fontMetrics().height()));
}

// The frame of the join modes, in twips: three modes and Combine's box.
constexpr double kOptionsFrameHeight = 1750;

QString invalidRootNameMessage(const QString& name) {
    return QStringLiteral("\"%1\" cannot name the root element that wraps the appended files. Use an XML name "
                          "without a colon: letters, digits, '_', '-' and '.', beginning with a letter or '_'.")
        .arg(name);
}

const QString helpHint =
    QStringLiteral("To use this software, XML files must be in error-free format. The best way to check for this is to "
                   "open the XML file you are working with in Internet Explorer.\r\rWould you like to see an example "
                   "of a bad XML file as seen in Internet Explorer?");

// How many problem lines the box after Check Files shows; the item marks show them all.
constexpr int shownProblemLines = 5;

QString checkMessage(const ListCheck& check) {
    QStringList lines{check.summary()};
    QStringList problems;
    for (const InputCheck& input : check.inputs)
        if (input.status != InputStatus::Ok)
            problems << input.statusLine();
    if (!problems.isEmpty()) {
        lines << QString() << problems.mid(0, shownProblemLines);
        if (problems.size() > shownProblemLines)
            lines << QStringLiteral("... and %1 more, marked in the list.").arg(problems.size() - shownProblemLines);
    }
    return lines.join(QStringLiteral("\r\n"));
}

const QString samplesQuestion =
    QStringLiteral("Would you like this software to open the folder where these sample files are stored (so that you "
                   "can view them before working with them)?");

} // namespace

MainWindow::MainWindow(QWidget* parent)
    : MainWindow(MainWindowOptions(), parent) {}

MainWindow::MainWindow(MainWindowOptions options, QWidget* parent)
    : QMainWindow(parent)
    , m_options(std::move(options)) {
    setObjectName(QStringLiteral("Form1"));
    buildControls();
    buildMenus();
    m_joinHost = std::make_unique<MainJoinHost>(*this, m_busyPointer, *m_fileList, *m_appendButton, *m_progressBar);
    m_join = std::make_unique<BackgroundJoin>(*m_joinHost);
    connect(m_join.get(), &BackgroundJoin::finished, this, &MainWindow::onJoinFinished);
    connect(m_join.get(), &BackgroundJoin::checkFinished, this, &MainWindow::onCheckFinished);
    connect(m_join.get(), &BackgroundJoin::stopped, this, &MainWindow::onWorkStopped);
    m_walk = std::make_unique<BackgroundWalk>();
    connect(m_walk.get(), &BackgroundWalk::found, m_fileList, &FileListView::appendItems);
    connect(m_walk.get(), &BackgroundWalk::finished, this, &MainWindow::onWalkFinished);

    // Start-up, in this order; the caller shows the window after the last step.
    applySkin();
    resize(twipsToPixels(8160), twipsToPixels(8040));
    centerWindow(this);
    centerWhenFramed(this);
    setWindowTitle(QStringLiteral("Corvanta"));
    setWindowIcon(QIcon(QStringLiteral(":/icons/corvanta.png")));
    maybeVisitMainPage(*m_options.startupDraw, *m_options.shell);
    restoreJoinMode();
    m_fileList->setHeaderLabels({QStringLiteral("XML Files")});
    m_fileList->setColumnWidth(0, twipsToPixels(4500));
    buildToolBar();
    restoreTab();

    // Connected after the restore, which is not a change of the user's.
    connect(m_tabControl, &QTabWidget::currentChanged, this, &MainWindow::onTabChanged);
    connect(m_appendButton, &QRadioButton::clicked, this, &MainWindow::onAppendChosen);
    connect(m_mergeButton, &QRadioButton::clicked, this, &MainWindow::onMergeChosen);
    connect(m_combineButton, &QRadioButton::clicked, this, &MainWindow::onCombineChosen);
    connect(m_uniqueCheckBox, &QCheckBox::clicked, this,
            [this](bool unique) { m_settings.write(settings::UniqueNodes, unique); });
    connect(m_appendButton, &QRadioButton::toggled, this, &MainWindow::updateWrapControls);
    connect(m_combineButton, &QRadioButton::toggled, this, &MainWindow::updateWrapControls);
    connect(m_wrapCheckBox, &QCheckBox::clicked, this, &MainWindow::onWrapToggled);
    connect(m_wrapRootEdit, &QLineEdit::textEdited, this, &MainWindow::onWrapRootEdited);
    connect(m_skipBadFilesCheckBox, &QCheckBox::clicked, this,
            [this](bool skip) { m_settings.write(settings::SkipBadFiles, skip); });
    appendStartPaths(m_options.startPaths);
    connect(m_fileList, &FileListView::pointerMoved, this, &MainWindow::resetPointer);
}

MainWindow::~MainWindow() = default;

ResultsWindow& MainWindow::resultsWindow() {
    if (!m_resultsWindow) {
        m_resultsWindow = std::make_unique<ResultsWindow>(this);
        m_resultsWindow->setEnabled(!isBusy()); // made by a join's hand-off
    }
    return *m_resultsWindow;
}

FileListView& MainWindow::fileList() const {
    return *m_fileList;
}

bool MainWindow::isBusy() const {
    return m_activity != Activity::Idle;
}

bool MainWindow::isJoining() const {
    return m_activity == Activity::Joining || m_activity == Activity::Checking;
}

bool MainWindow::combineSelected() const {
    return m_combineButton->isChecked();
}

bool MainWindow::uniqueNodes() const {
    return m_combineButton->isChecked() && m_uniqueCheckBox->isChecked();
}

QString MainWindow::wrapRootName() const {
    if (!m_appendButton->isChecked() || !m_wrapCheckBox->isChecked())
        return {};
    return m_wrapRootEdit->text().trimmed();
}

bool MainWindow::skipBadFiles() const {
    return m_skipBadFilesCheckBox->isChecked();
}

void MainWindow::buildControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    central->setMouseTracking(true);
    central->installEventFilter(this);
    setCentralWidget(central);

    m_tabControl = new TabControl(central);
    m_tabControl->setObjectName(QStringLiteral("TabControl1"));
    m_tabControl->tabBar()->setFont(tabCaptionFont());
    m_tabControl->setGeometry(QRect(twipsPoint(120, 1620), QSize(twipsToPixels(7920), twipsToPixels(3855))));

    auto* filesPage = new QWidget(m_tabControl);
    filesPage->setObjectName(QStringLiteral("filesPage"));
    m_tabControl->addTab(filesPage, QStringLiteral("Files"));
    m_fileList = new FileListView(filesPage);
    m_fileList->setFont(controlFont());
    m_fileList->resize(twipsToPixels(7920 - 480), twipsToPixels(3855 - 630));
    m_tabControl->placeInside(m_fileList, twipsPoint(240, 480));
    // Files and folders dropped from the file manager land on the viewport; eventFilter() takes them.
    m_fileList->viewport()->setAcceptDrops(true);
    m_fileList->viewport()->installEventFilter(this);

    auto* optionsPage = new QWidget(m_tabControl);
    optionsPage->setObjectName(QStringLiteral("optionsPage"));
    m_tabControl->addTab(optionsPage, QStringLiteral("Options"));
    m_optionsFrame = new QGroupBox(QStringLiteral("Options"), optionsPage);
    m_optionsFrame->setObjectName(QStringLiteral("Frame1"));
    m_optionsFrame->setFont(controlFont());
    m_optionsFrame->setMouseTracking(true);
    m_optionsFrame->installEventFilter(this);
    m_optionsFrame->resize(twipsToPixels(6360), twipsToPixels(kOptionsFrameHeight));
    m_tabControl->placeInside(m_optionsFrame, twipsPoint(240, 480));

    m_mergeButton = new QRadioButton(QStringLiteral("Merge files so that nodes are shared"), m_optionsFrame);
    m_mergeButton->setObjectName(QStringLiteral("Option2"));
    m_mergeButton->setFont(controlFont());
    placeOption(m_mergeButton, m_optionsFrame, 240, 300, 5295, 255);
    m_appendButton = new QRadioButton(QStringLiteral("Append files one after another"), m_optionsFrame);
    m_appendButton->setObjectName(QStringLiteral("Option1"));
    m_appendButton->setFont(controlFont());
    placeOption(m_appendButton, m_optionsFrame, 240, 650, 4455, 225);
    buildCombineControls();
    buildWrapControls(optionsPage);

    m_progressBar = new QProgressBar(central);
    m_progressBar->setObjectName(QStringLiteral("ProgressBar1"));
    m_progressBar->setFont(controlFont());
    m_progressBar->setRange(0, 100 * MainJoinHost::progressScale);
    m_progressBar->setValue(0);
    m_progressBar->setGeometry(QRect(twipsPoint(120, 5760), QSize(twipsToPixels(6360), twipsToPixels(405))));
    m_statusLine = new QLabel(central);
    m_statusLine->setObjectName(QStringLiteral("statusLine"));
    m_statusLine->setFont(controlFont());
    m_statusLine->hide();
    m_statusTimer = new QTimer(this);
    m_statusTimer->setSingleShot(true);
    m_statusTimer->setInterval(stoppedStatusMs);
    connect(m_statusTimer, &QTimer::timeout, this, &MainWindow::hideStatus);

    m_addFilesDialog = new AddFilesDialog(this);
}

// The third mode and its box, in rows of the frame below the first two; the frame grows to hold them. A row never
// starts above the bottom of the one before it, whatever the font's height.
void MainWindow::buildCombineControls() {
    m_combineButton = new QRadioButton(QStringLiteral("Combine files under one root element"), m_optionsFrame);
    m_combineButton->setObjectName(QStringLiteral("Option3"));
    m_combineButton->setFont(controlFont());
    placeOption(m_combineButton, m_optionsFrame, 240, 1000, 4455, 225);
    const int gap = twipsToPixels(100);
    m_combineButton->move(m_combineButton->x(),
                          qMax(m_combineButton->y(), m_appendButton->geometry().bottom() + 1 + gap));
    m_uniqueCheckBox = new QCheckBox(QStringLiteral("Leave out repeated nodes"), m_optionsFrame);
    m_uniqueCheckBox->setObjectName(QStringLiteral("UniqueNodes"));
    m_uniqueCheckBox->setFont(controlFont());
    const QSize uniqueSize(qMax(twipsToPixels(4155), m_uniqueCheckBox->sizeHint().width()),
                           qMax(twipsToPixels(225), m_uniqueCheckBox->sizeHint().height()));
    m_uniqueCheckBox->setGeometry(
        QRect(QPoint(twipsToPixels(540), m_combineButton->geometry().bottom() + 1 + gap), uniqueSize));
    m_optionsFrame->resize(
        m_optionsFrame->width(),
        qMax(twipsToPixels(kOptionsFrameHeight), m_uniqueCheckBox->geometry().bottom() + 1 + twipsToPixels(175)));
}

void MainWindow::buildWrapControls(QWidget* optionsPage) {
    // Below the frame of the join modes; laid out by Qt, as they are new.
    auto* wrapOptions = new QWidget(optionsPage);
    wrapOptions->setObjectName(QStringLiteral("wrapOptions"));
    m_wrapCheckBox = new QCheckBox(QStringLiteral("Wrap appended files in one root element"), wrapOptions);
    m_wrapCheckBox->setObjectName(QStringLiteral("wrapCheckBox"));
    m_wrapCheckBox->setFont(controlFont());
    m_wrapRootLabel = new QLabel(QStringLiteral("&Root element:"), wrapOptions);
    m_wrapRootLabel->setObjectName(QStringLiteral("wrapRootLabel"));
    m_wrapRootLabel->setFont(controlFont());
    m_wrapRootEdit = new QLineEdit(wrapOptions);
    m_wrapRootEdit->setObjectName(QStringLiteral("wrapRootEdit"));
    m_wrapRootEdit->setFont(controlFont());
    m_wrapRootEdit->setFixedWidth(twipsToPixels(2400));
    m_wrapRootLabel->setBuddy(m_wrapRootEdit);
    m_skipBadFilesCheckBox = new QCheckBox(QStringLiteral("Skip files that cannot be joined"), wrapOptions);
    m_skipBadFilesCheckBox->setObjectName(QStringLiteral("SkipBadFiles"));
    m_skipBadFilesCheckBox->setFont(controlFont());

    auto* nameRow = new QHBoxLayout;
    nameRow->addSpacing(twipsToPixels(300)); // under the check box's text
    nameRow->addWidget(m_wrapRootLabel);
    nameRow->addWidget(m_wrapRootEdit);
    nameRow->addStretch();
    auto* column = new QVBoxLayout(wrapOptions);
    column->setContentsMargins(twipsToPixels(240), 0, 0, 0); // in line with the option buttons
    column->addWidget(m_wrapCheckBox);
    column->addLayout(nameRow);
    column->addWidget(m_skipBadFilesCheckBox);
    wrapOptions->resize(qMax(twipsToPixels(6360), wrapOptions->sizeHint().width()), wrapOptions->sizeHint().height());
    m_tabControl->placeInside(wrapOptions,
                              twipsPoint(240, 480) + QPoint(0, m_optionsFrame->height() + twipsToPixels(120)));
}

void MainWindow::buildMenus() {
    menuBar()->setFont(barFont());
    // One action for the tool bar's button and the menu item: both turn into "Stop" together.
    m_startAction = new QAction(QIcon(startIcon), startCaption, this);
    m_startAction->setObjectName(QLatin1String(menu::startJoining));
    connect(m_startAction, &QAction::triggered, this, [this] { isBusy() ? stop() : startJoining(); });

    QMenu* fileMenu = menuBar()->addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QLatin1String(menu::file));
    addIdleItem(fileMenu, menu::addFiles, QStringLiteral("A&dd Files"), &MainWindow::addFiles);
    addIdleItem(fileMenu, menu::addFolder, QStringLiteral("Add &Folder"), &MainWindow::addFolder);
    fileMenu->addSeparator();
    addIdleItem(fileMenu, menu::clearSelected, QStringLiteral("Clear Selected Files"),
                &MainWindow::removeSelectedItems);
    addIdleItem(fileMenu, menu::clearAll, QStringLiteral("Clear All Files"), &MainWindow::clearList);
    fileMenu->addSeparator();
    addIdleItem(fileMenu, menu::openList, QStringLiteral("&Open List…"), &MainWindow::openList);
    addIdleItem(fileMenu, menu::saveList, QStringLiteral("&Save List…"), &MainWindow::saveList);
    addIdleItem(fileMenu, menu::checkFiles, QStringLiteral("&Check Files"), &MainWindow::checkFiles);
    fileMenu->addAction(m_startAction);
    fileMenu->addSeparator();
    QAction* exitItem = addItem(fileMenu, menu::exit, QStringLiteral("&Exit"), nullptr);
    connect(exitItem, &QAction::triggered, this, &QWidget::close);

    QMenu* optionsMenu = menuBar()->addMenu(QStringLiteral("&Options"));
    optionsMenu->setObjectName(QLatin1String(menu::options));
    addIdleItem(optionsMenu, menu::showFilesTab, QStringLiteral("Show Files Tab"), &MainWindow::showFilesTab);
    addIdleItem(optionsMenu, menu::showOptionsTab, QStringLiteral("Show Options Tab"), &MainWindow::showOptionsTab);

    QMenu* helpMenu = menuBar()->addMenu(QStringLiteral("&Help"));
    helpMenu->setObjectName(QLatin1String(menu::help));
    // The hint and the samples ask with a box or fill the list; the links only hand a page to the desktop, so they
    // stay available during work.
    addIdleItem(helpMenu, menu::helpHint, QStringLiteral("Help"), &MainWindow::showHelp);
    addIdleItem(helpMenu, menu::loadSamples, QStringLiteral("Load Sample/Example Files"), &MainWindow::loadSamples);
    addItem(helpMenu, menu::demoVideo, QStringLiteral("Watch Old Demo Video"), &MainWindow::watchDemoVideo);
    helpMenu->addSeparator();
    addItem(helpMenu, menu::faq, QStringLiteral("FAQ"), &MainWindow::openFaq);
    addItem(helpMenu, menu::mainPage, QStringLiteral("Visit Tavrino Main Page"), &MainWindow::visitMainPage);
}

QAction* MainWindow::addItem(QMenu* menu, const char* objectName, const QString& text, void (MainWindow::*slot)()) {
    QAction* action = menu->addAction(text);
    action->setObjectName(QLatin1String(objectName));
    menu->setFont(menuBar()->font());
    if (slot)
        connect(action, &QAction::triggered, this, slot);
    return action;
}

QAction* MainWindow::addIdleItem(QMenu* menu, const char* objectName, const QString& text, void (MainWindow::*slot)()) {
    QAction* action = addItem(menu, objectName, text, slot);
    m_idleActions.append(action);
    return action;
}

QAction* MainWindow::newIdleAction(const QString& text, const QString& icon, void (MainWindow::*slot)()) {
    auto* action = new QAction(QIcon(icon), text, this);
    connect(action, &QAction::triggered, this, slot);
    m_idleActions.append(action);
    return action;
}

void MainWindow::buildToolBar() {
    // "Clear List" comes before "Start Joining".
    const QList<ToolBarAction> buttons{
        {newIdleAction(QStringLiteral("Add Files"), QStringLiteral(":/icons/add-files.png"), &MainWindow::addFiles),
         QLatin1String(toolbar::addFiles), 100},
        {newIdleAction(QStringLiteral("Add Folder"), QStringLiteral(":/icons/add-folder.png"), &MainWindow::addFolder),
         QLatin1String(toolbar::addFolder), 100},
        {newIdleAction(QStringLiteral("Clear List"), QStringLiteral(":/icons/clear-list.png"), &MainWindow::clearList),
         QLatin1String(toolbar::clearList), 100},
        {m_startAction, QLatin1String(toolbar::startJoining), 100},
    };
    addToolBar(Qt::TopToolBarArea, buildStandardToolBar(this, buttons));
}

void MainWindow::setActivity(Activity activity) {
    m_activity = activity;
    updateCommands();
}

void MainWindow::updateCommands() {
    const bool idle = m_activity == Activity::Idle;
    for (QAction* action : std::as_const(m_idleActions))
        action->setEnabled(idle);
    // The list and the options are what the work reads: they stay as they are until it ends.
    m_tabControl->setEnabled(idle);
    // The results window takes no input either: shown by the hand-off a moment before this one is hidden, a Back
    // in between would leave neither window on the screen.
    if (m_resultsWindow)
        m_resultsWindow->setEnabled(idle);
    m_startAction->setText(idle ? startCaption : stopCaption);
    m_startAction->setIcon(QIcon(idle ? startIcon : stopIcon));
    m_startAction->setShortcut(idle ? QKeySequence() : QKeySequence(Qt::Key_Escape));
}

void MainWindow::stop() {
    if (m_join->isRunning())
        m_join->requestStop();
    if (m_walk->isRunning())
        m_walk->requestStop();
}

void MainWindow::addFiles() {
    if (!isBusy())
        addChosenFiles(*m_addFilesDialog, *m_fileList);
}

void MainWindow::addFolder() {
    if (isBusy())
        return;
    m_settings.write(settings::Extension, QStringLiteral("xml"));
    const QString folder = chooseFolder(this, QStringLiteral("Please select folder:"));
    if (folder.isEmpty())
        return;
    startWalk(
        [folder](const std::stop_token& stop, const FoundFiles& found) { scanFolderForXmlFiles(folder, stop, found); },
        true);
}

void MainWindow::onFileDragOver(QDragMoveEvent* event) {
    // The pointer shows that nothing can be dropped while the list is being read or filled.
    if (isBusy())
        event->ignore();
    else
        acceptFileDrop(*event);
}

void MainWindow::onFileDrop(QDropEvent* event) {
    if (isBusy()) {
        event->ignore();
        return;
    }
    if (!acceptFileDrop(*event))
        return;
    const QStringList paths = droppedPaths(*event->mimeData());
    // The file manager waits until the drop event returns; the walk starts at once but returns at once too.
    startWalk([paths](const std::stop_token& stop, const FoundFiles& found) { findDroppedPaths(paths, stop, found); },
              false);
}

void MainWindow::startWalk(std::function<void(const std::stop_token&, const FoundFiles&)> walk, bool busyPointer) {
    if (!m_walk->start(std::move(walk)))
        return;
    hideStatus();
    m_walkHoldsPointer = busyPointer;
    if (busyPointer)
        m_busyPointer.setBusy(true);
    setActivity(Activity::Scanning);
}

void MainWindow::onWalkFinished() {
    // What the walk found before it ended or was stopped stays in the list.
    if (std::exchange(m_walkHoldsPointer, false))
        m_busyPointer.setBusy(false);
    setActivity(Activity::Idle);
}

void MainWindow::appendStartPaths(const QStringList& paths) {
    // One walk for them all, so that they come in the order given.
    QStringList absolute;
    for (const QString& path : paths)
        absolute += QFileInfo(path).absoluteFilePath();
    if (absolute.isEmpty())
        return;
    startWalk(
        [absolute](const std::stop_token& stop, const FoundFiles& found) {
            for (const QString& path : absolute) {
                if (stop.stop_requested())
                    return;
                const QFileInfo info(path);
                if (info.isDir())
                    scanFolderForXmlFiles(path, stop, found);
                else if (info.isFile())
                    found({path});
            }
        },
        true);
}

void MainWindow::clearList() {
    if (!isBusy())
        m_fileList->removeAllItems();
}

void MainWindow::removeSelectedItems() {
    if (!isBusy())
        m_fileList->removeSelectedItems();
}

void MainWindow::startJoining() {
    // A name that cannot stand as an element name would make a result that no XML tool opens.
    if (isBusy())
        return;
    const bool wrap = m_appendButton->isChecked() && m_wrapCheckBox->isChecked();
    if (wrap && !isWrapRootName(wrapRootName())) {
        showProgramMessage(this, invalidRootNameMessage(wrapRootName()), QMessageBox::Warning);
        return;
    }
    hideStatus();
    rememberResultsWindow();
    m_joinReport = std::make_unique<JoinReport>(m_appendButton->isChecked()    ? JoinReport::Mode::Append
                                                : m_combineButton->isChecked() ? JoinReport::Mode::Combine
                                                                               : JoinReport::Mode::Merge,
                                                uniqueNodes());
    m_joinHost->startReport(*m_joinReport);
    if (m_join->start()) {
        setActivity(Activity::Joining);
        return;
    }
    m_joinHost->finishReport();
    m_joinReport.reset();
    m_resultsBefore.reset();
}

void MainWindow::onJoinFinished() {
    setActivity(Activity::Idle);
    m_resultsBefore.reset();
    if (!m_joinReport)
        return;
    m_joinReport->finish(m_joinHost->finishReport());
    // The marks of the last check or join stay until this one has ended: a stopped join leaves them as they were.
    m_fileList->clearItemStatuses();
    markJoinedItems(*m_joinReport);
    m_joinReport.reset();
}

void MainWindow::onWorkStopped() {
    setActivity(Activity::Idle);
    if (m_joinReport) {
        m_joinHost->finishReport();
        m_joinReport.reset();
    }
    // Closing the window stopped it: the program is ending, and the window stays hidden.
    if (m_closed) {
        m_resultsBefore.reset();
        return;
    }
    restoreResultsWindow();
    show();
    m_joinHost->setProgress(0);
    showStoppedStatus();
}

void MainWindow::rememberResultsWindow() {
    m_resultsBefore = ResultsBefore{};
    if (m_resultsWindow)
        m_resultsBefore = ResultsBefore{m_resultsWindow->resultsStore(), m_resultsWindow->isVisible()};
}

void MainWindow::restoreResultsWindow() {
    const std::optional<ResultsBefore> before = std::exchange(m_resultsBefore, std::nullopt);
    // The join may have handed its text over, and shown the window, before it heard the stop.
    if (!before || !m_resultsWindow)
        return;
    if (m_resultsWindow->resultsStore() != before->text)
        m_resultsWindow->setResultsStore(before->text);
    m_resultsWindow->setVisible(before->visible);
}

void MainWindow::showStoppedStatus() {
    m_statusLine->setText(QStringLiteral("Join stopped."));
    m_statusLine->setGeometry(m_progressBar->geometry());
    m_progressBar->hide();
    m_statusLine->show();
    m_statusTimer->start();
}

void MainWindow::hideStatus() {
    m_statusTimer->stop();
    m_statusLine->hide();
    m_progressBar->show();
}

void MainWindow::markJoinedItems(const JoinReport& report) {
    if (const JoinReport::Input* stopped = report.stoppedInput()) {
        m_fileList->setItemStatus(stopped->index, ItemMark::Problem, report.contribution(*stopped));
        m_fileList->selectOnlyItem(stopped->index);
        return;
    }
    // After a join without a result, counts of what would have been added would only mislead; why an input was
    // left out still holds.
    if (!report.completed()) {
        for (const JoinReport::Input& input : report.inputs())
            if (input.leftOut)
                m_fileList->setItemStatus(input.index, ItemMark::Problem, report.contribution(input));
        return;
    }
    for (const JoinReport::Input& input : report.inputs())
        m_fileList->setItemStatus(input.index, report.isProblem(input) ? ItemMark::Problem : ItemMark::Fine,
                                  report.contribution(input));
}

void MainWindow::openList() {
    if (m_fileList->itemCount() > 0 &&
        !askYesNo(QStringLiteral("Replace the files in the list with those of a saved list?")))
        return;
    const QString file = chooseListToOpen(this, m_settings);
    if (file.isEmpty())
        return;
    OpenedList opened;
    try {
        BusyPointer::Hold busy(m_busyPointer);
        opened = corvanta::openList(file);
    } catch (const Failure& failure) {
        showProgramMessage(this, failure.description(), QMessageBox::Warning);
        return;
    }
    m_fileList->removeAllItems();
    m_fileList->appendItems(opened.files);
    if (!opened.missing.isEmpty())
        showProgramMessage(this, missingListedFilesMessage(opened.missing), QMessageBox::Warning);
}

void MainWindow::saveList() {
    const QString file = chooseListToSave(this, m_settings);
    if (file.isEmpty())
        return;
    try {
        writePathList(m_fileList->itemTexts(), file);
    } catch (const Failure& failure) {
        showProgramMessage(this, failure.description(), QMessageBox::Warning);
    }
}

void MainWindow::checkFiles() {
    if (isBusy())
        return;
    hideStatus();
    m_resultsBefore.reset();
    if (m_join->startCheck(m_fileList->itemTexts(), combineSelected() ? CheckFor::Combine : CheckFor::Merge))
        setActivity(Activity::Checking);
}

void MainWindow::onCheckFinished(const ListCheck& check) {
    setActivity(Activity::Idle);
    m_fileList->clearItemStatuses();
    // The list took no input while the check ran: its items are still the ones checked, in the same order.
    for (size_t i = 0; i < check.inputs.size(); ++i) {
        const InputCheck& input = check.inputs[i];
        m_fileList->setItemStatus(int(i) + 1, input.status == InputStatus::Ok ? ItemMark::Fine : ItemMark::Problem,
                                  input.statusLine());
    }
    showProgramMessage(this, checkMessage(check),
                       check.problemCount() > 0 ? QMessageBox::Warning : QMessageBox::NoIcon);
}

void MainWindow::showHelp() {
    if (!isBusy() && askYesNo(helpHint))
        m_options.shell->open(badXmlPicture(m_options.programFolder));
}

void MainWindow::loadSamples() {
    if (isBusy())
        return;
    for (const QString& path : samplePaths(m_options.programFolder))
        m_fileList->appendItem(path);
    if (askYesNo(samplesQuestion))
        m_options.shell->open(samplesFolder(m_options.programFolder));
}

void MainWindow::watchDemoVideo() {
    m_options.shell->open(demoVideo(m_options.programFolder));
}

void MainWindow::openFaq() {
    m_options.shell->open(faqPage());
}

void MainWindow::visitMainPage() {
    m_options.shell->open(mainPage());
}

bool MainWindow::askYesNo(const QString& question) {
    return showProgramMessage(this, question, QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No,
                              QMessageBox::Yes) == QMessageBox::Yes;
}

void MainWindow::applySkin() {
    const std::optional<QString> skin = readSkin(m_options.programFolder);
    if (!skin)
        return;
    applyFaceColor(this);
    // The application takes the sheet rather than this window alone, so that the results window and every box
    // and dialog wear the same skin.
    qApp->setStyleSheet(*skin);
}

void MainWindow::restoreJoinMode() {
    m_appendButton->setChecked(m_settings.read(settings::AppendMode));
    m_mergeButton->setChecked(m_settings.read(settings::MergeMode));
    // Checking one button unchecks the others; an unchecked one cannot be unchecked again.
    if (m_settings.read(settings::CombineMode))
        m_combineButton->setChecked(true);
    m_uniqueCheckBox->setChecked(m_settings.read(settings::UniqueNodes));
    m_wrapCheckBox->setChecked(m_settings.read(settings::WrapAppended));
    m_wrapRootEdit->setText(m_settings.read(settings::WrapRootName));
    m_skipBadFilesCheckBox->setChecked(m_settings.read(settings::SkipBadFiles));
    updateWrapControls();
}

void MainWindow::updateWrapControls() {
    // Wrapping belongs to Append; its name only matters while it is on. Leaving out repeats belongs to Combine.
    m_uniqueCheckBox->setEnabled(m_combineButton->isChecked());
    const bool append = m_appendButton->isChecked();
    m_wrapCheckBox->setEnabled(append);
    m_wrapRootLabel->setEnabled(append && m_wrapCheckBox->isChecked());
    m_wrapRootEdit->setEnabled(append && m_wrapCheckBox->isChecked());
}

void MainWindow::restoreTab() {
    m_tabControl->setCurrentIndex(m_settings.read(settings::SelectedTab));
}

void MainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    m_closed = false;
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layOutControls();
}

void MainWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    // A window restored from the taskbar may keep its size, so no resize event would lay it out again.
    if (event->type() == QEvent::WindowStateChange)
        layOutControls();
}

void MainWindow::layOutControls() {
    if (isMinimized())
        return;
    // Positions and sizes in twips of the window's inner area, where the bars take the top. Bars that need more
    // room than the design gives them push the controls down by the difference, out of their way.
    const int barsOverflow = qMax(0, centralWidget()->y() - twipsToPixels(1620));
    const QPoint clientOrigin = centralWidget()->pos() - QPoint(0, barsOverflow);
    const double clientWidth = pixelsToTwips(width());
    const double clientHeight = pixelsToTwips(height() - barsOverflow);
    m_tabControl->move(twipsPoint(120, 1620) - clientOrigin);

    assignWidth(m_tabControl, clientWidth - 240);
    assignHeight(m_tabControl, clientHeight - 2260);
    assignWidth(m_fileList, widthOf(m_tabControl) - 480);
    assignHeight(m_fileList, heightOf(m_tabControl) - 630);
    assignWidth(m_optionsFrame, clientWidth - 720);
    m_progressBar->move(twipsPoint(120, heightOf(m_tabControl) + 1750) - clientOrigin);
    assignColumnWidth(m_fileList, widthOf(m_fileList) - 500);
    assignWidth(m_progressBar, widthOf(m_tabControl));
    m_statusLine->setGeometry(m_progressBar->geometry());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    endProgram();
    event->accept();
}

void MainWindow::endProgram() {
    m_closed = true;
    // The join or walk ends without another word to the window; its thread is waited for, and its working folder
    // removed, when the window goes. Nothing here waits for it.
    stop();
    saveWindowPosition(this, m_settings);
    // The results window goes with this one: hidden, not closed, so that its own close procedure does not run.
    if (m_resultsWindow)
        m_resultsWindow->hide();
    // Ends the program at once: every event loop returns and no other window is asked first. With no loop
    // running there is nothing to end.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

void MainWindow::onAppendChosen() {
    writeJoinMode();
}

void MainWindow::onMergeChosen() {
    writeJoinMode();
}

void MainWindow::onCombineChosen() {
    writeJoinMode();
}

// All three together, so that no two say "1" at once.
void MainWindow::writeJoinMode() {
    m_settings.write(settings::MergeMode, m_mergeButton->isChecked());
    m_settings.write(settings::AppendMode, m_appendButton->isChecked());
    m_settings.write(settings::CombineMode, m_combineButton->isChecked());
}

void MainWindow::onWrapToggled(bool wrap) {
    m_settings.write(settings::WrapAppended, wrap);
    updateWrapControls();
}

void MainWindow::onWrapRootEdited(const QString& name) {
    m_settings.write(settings::WrapRootName, name);
}

void MainWindow::onTabChanged(int index) {
    m_settings.write(settings::SelectedTab, index);
}

void MainWindow::showFilesTab() {
    if (!isBusy())
        m_tabControl->setCurrentIndex(0);
}

void MainWindow::showOptionsTab() {
    if (!isBusy())
        m_tabControl->setCurrentIndex(1);
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (m_fileList && watched == m_fileList->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
            onFileDragOver(static_cast<QDragMoveEvent*>(event));
            return true;
        case QEvent::Drop:
            onFileDrop(static_cast<QDropEvent*>(event));
            return true;
        default:
            break;
        }
    }
    if (event->type() == QEvent::MouseMove && (watched == centralWidget() || watched == m_optionsFrame))
        resetPointer();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::resetPointer() {
    if (cursor().shape() != Qt::WaitCursor)
        unsetCursor();
}

} // namespace corvanta
