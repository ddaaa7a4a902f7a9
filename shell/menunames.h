#pragma once

// Object names of the main window's menus, menu items and tool bar buttons. Accessibility tools, scripts and the
// tests find them by these names, so they never change; the numbered ones come from the window's first design.
namespace corvanta {

namespace menu {
inline constexpr char file[] = "m1";
inline constexpr char addFiles[] = "m2";
inline constexpr char addFolder[] = "m3";
inline constexpr char clearSelected[] = "m5";
inline constexpr char clearAll[] = "m6";
inline constexpr char openList[] = "openListAction";
inline constexpr char saveList[] = "saveListAction";
inline constexpr char checkFiles[] = "checkFilesAction";
/// "Start Joining", "Stop" while work runs: one action with the tool bar's button.
inline constexpr char startJoining[] = "startJoiningAction";
inline constexpr char exit[] = "m8";

inline constexpr char options[] = "m9";
inline constexpr char showFilesTab[] = "m10";
inline constexpr char showOptionsTab[] = "m11";

inline constexpr char help[] = "m12";
inline constexpr char helpHint[] = "m13";
inline constexpr char loadSamples[] = "m14";
inline constexpr char demoVideo[] = "m15";
inline constexpr char faq[] = "m17";
inline constexpr char mainPage[] = "m18";
} // namespace menu

namespace toolbar {
inline constexpr char bar[] = "Standard";
// The names the buttons' actions are built from: the action is name + "Action", its button name + "Button".
inline constexpr char addFiles[] = "addFiles";
inline constexpr char addFolder[] = "addFolder";
inline constexpr char clearList[] = "clearList";
inline constexpr char startJoining[] = "startJoining";

inline constexpr char addFilesButton[] = "addFilesButton";
inline constexpr char addFolderButton[] = "addFolderButton";
inline constexpr char clearListButton[] = "clearListButton";
inline constexpr char startJoiningButton[] = "startJoiningButton";
} // namespace toolbar

} // namespace corvanta
