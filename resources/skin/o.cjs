/*
 * "Harbour", an example skin for Corvanta.
 *
 * A Qt style sheet. To use it, copy this file into the program folder as x/o.cjs:
 *     mkdir -p <program folder>/x && cp o.cjs <program folder>/x/o.cjs
 * The main window applies it at start-up; remove the file to return to the plain look.
 * Fonts are left to the program, only colours, borders and spacing change here.
 */

QMainWindow {
    background: #EEF2F7;
}

/* Menus */
QMenuBar {
    background: #FFFFFF;
    border-bottom: 1px solid #D5DDE8;
    padding: 2px 4px;
}
QMenuBar::item {
    background: transparent;
    color: #22303F;
    padding: 4px 10px;
    border-radius: 4px;
}
QMenuBar::item:selected {
    background: #E3ECFA;
}
QMenu {
    background: #FFFFFF;
    border: 1px solid #C9D3E0;
    padding: 4px;
}
QMenu::item {
    color: #22303F;
    padding: 5px 24px 5px 16px;
    border-radius: 4px;
}
QMenu::item:selected {
    background: #2D6CDF;
    color: #FFFFFF;
}
QMenu::separator {
    height: 1px;
    background: #E1E7EF;
    margin: 4px 8px;
}

/* Toolbar */
QToolBar {
    background: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, stop: 0 #FFFFFF, stop: 1 #F3F6FA);
    border: none;
    border-bottom: 1px solid #D5DDE8;
    padding: 4px;
    spacing: 4px;
}
QToolBar::separator {
    width: 1px;
    background: #D5DDE8;
    margin: 6px 4px;
}
QToolButton {
    background: transparent;
    color: #22303F;
    border: 1px solid transparent;
    border-radius: 6px;
    padding: 4px;
}
QToolButton:hover {
    background: #E3ECFA;
    border-color: #B9CDF2;
}
QToolButton:pressed {
    background: #C9DAF8;
    border-color: #2D6CDF;
}
QToolButton:disabled {
    color: #98A4B3;
}

/* Tabs */
QTabWidget::pane {
    background: #FFFFFF;
    border: 1px solid #C9D3E0;
    border-radius: 6px;
    top: -1px;
}
QTabBar::tab {
    background: #E3E9F1;
    color: #4A5A70;
    border: 1px solid #C9D3E0;
    border-bottom: none;
    border-top-left-radius: 6px;
    border-top-right-radius: 6px;
    padding: 6px 18px;
    margin-right: 2px;
}
QTabBar::tab:selected {
    background: #FFFFFF;
    color: #1F53B5;
    border-top: 3px solid #2D6CDF;
}
QTabBar::tab:hover:!selected {
    background: #EDF2FA;
    color: #22303F;
}

/* The file list */
QTreeView, QListView {
    background: #FFFFFF;
    alternate-background-color: #F6F8FB;
    color: #22303F;
    border: 1px solid #D5DDE8;
    border-radius: 4px;
    selection-background-color: #2D6CDF;
    selection-color: #FFFFFF;
    outline: none;
}
QTreeView::item, QListView::item {
    padding: 3px 4px;
}
QTreeView::item:hover:!selected, QListView::item:hover:!selected {
    background: #EAF1FD;
}
QTreeView::item:selected, QListView::item:selected {
    background: #2D6CDF;
    color: #FFFFFF;
}
QHeaderView::section {
    background: #F3F6FA;
    color: #4A5A70;
    border: none;
    border-bottom: 1px solid #D5DDE8;
    padding: 5px 6px;
}

/* Options */
QGroupBox {
    background: #F8FAFC;
    color: #1F53B5;
    border: 1px solid #C9D3E0;
    border-radius: 6px;
    margin-top: 12px;
    padding-top: 8px;
}
QGroupBox::title {
    subcontrol-origin: margin;
    subcontrol-position: top left;
    left: 10px;
    padding: 0 4px;
    background: transparent;
}
QRadioButton {
    color: #22303F;
    background: transparent;
    spacing: 8px;
}
QRadioButton::indicator {
    width: 14px;
    height: 14px;
    border-radius: 8px;
    border: 1px solid #8D9CB1;
    background: #FFFFFF;
}
QRadioButton::indicator:hover {
    border-color: #2D6CDF;
}
QRadioButton::indicator:checked {
    border: 5px solid #2D6CDF;
    width: 6px;
    height: 6px;
    background: #FFFFFF;
}

/* Join progress */
QProgressBar {
    background: #E3E9F1;
    color: #22303F;
    border: 1px solid #C9D3E0;
    border-radius: 6px;
    text-align: center;
}
QProgressBar::chunk {
    background: qlineargradient(x1: 0, y1: 0, x2: 1, y2: 0, stop: 0 #2FA36B, stop: 1 #3CC07F);
    border-radius: 5px;
}

/* Results text and tooltips */
QTextEdit, QPlainTextEdit {
    background: #FFFFFF;
    color: #22303F;
    border: 1px solid #C9D3E0;
    border-radius: 4px;
    selection-background-color: #2D6CDF;
    selection-color: #FFFFFF;
}
QToolTip {
    background: #22303F;
    color: #FFFFFF;
    border: none;
    padding: 4px 6px;
}
