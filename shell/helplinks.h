#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace corvanta {

class ShellOpener;
class StartupDraw;

/// The picture of a malformed XML file as a web browser shows it, offered by Help.
QString badXmlPicture(const QString& programFolder);

/// The samples folder as the file manager is asked to show it: with its trailing separator.
QString samplesFolder(const QString& programFolder);

/// The sample files: every file directly in the samples folder, whatever its type and hidden ones included,
/// subfolders left out, in name order. Empty when the folder is missing.
QStringList samplePaths(const QString& programFolder);

/// The demo video: the first ordinary, not hidden file of the Video folder in name order; the folder itself
/// (ending in "/") when it holds none or is missing, so that the file manager shows it.
QString demoVideo(const QString& programFolder);

/// The maker's questions page.
QString faqPage();

/// The maker's main page.
QString mainPage();

/// The value of the start-up draw that visits the main page: one start in a hundred.
inline constexpr int mainPageDraw = 7;

/// The occasional start-up visit: draws once from \a draw and opens the main page through \a shell when the
/// number is mainPageDraw.
void maybeVisitMainPage(StartupDraw& draw, ShellOpener& shell);

/// The optional skin, a Qt style sheet: the text of x/o.cjs in the program folder when that is an ordinary file
/// that can be read (decoded as every text file of the program); nothing otherwise, also for a text the reader
/// refuses.
std::optional<QString> readSkin(const QString& programFolder);

} // namespace corvanta
