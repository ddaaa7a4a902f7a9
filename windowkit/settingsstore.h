#pragma once

#include <QSettings>
#include <QString>
#include <optional>

namespace corvanta {

/// A key of the settings store: its stored name and the value a read gives when the key is absent or its text
/// is not a number.
template <typename T> struct SettingKey {
    const char* name;
    T defaultValue;
};

/// Every key the program keeps, each defined once.
namespace settings {
/// "1" when the join mode is Append.
inline constexpr SettingKey<bool> AppendMode{"Option1", false};
/// "1" when the join mode is Merge; a new user starts in Merge.
inline constexpr SettingKey<bool> MergeMode{"Option2", true};
/// "1" when the join mode is Combine; a settings file from before Combine has none and keeps its mode.
inline constexpr SettingKey<bool> CombineMode{"Option3", false};
/// "1" when Combine leaves out repeated nodes; a new user starts without.
inline constexpr SettingKey<bool> UniqueNodes{"UniqueNodes", false};
/// "1" when Append wraps the appended files in one root element; a new user starts without.
inline constexpr SettingKey<bool> WrapAppended{"WrapAppended", false};
/// The name of the root element that wraps appended files.
inline constexpr SettingKey<const char*> WrapRootName{"WrapRootName", "files"};
/// "1" when Merge leaves out the files that cannot be joined and joins the rest; a new user starts without.
inline constexpr SettingKey<bool> SkipBadFiles{"SkipBadFiles", false};
/// The folder a list of files was last opened from or saved to.
inline constexpr SettingKey<const char*> ListFolder{"ListFolder", ""};
/// Index of the main window's selected tab: 0 "Files", 1 "Options".
inline constexpr SettingKey<int> SelectedTab{"TabControl1", 0};
/// The main window's last normal geometry in twips; written at exit, never read back.
inline constexpr SettingKey<int> Left{"Left", 0};
inline constexpr SettingKey<int> Top{"Top", 0};
inline constexpr SettingKey<int> Width{"Width", 0};
inline constexpr SettingKey<int> Height{"Height", 0};
/// The extension the folder scan looks for; written on every Add Folder, never read back.
inline constexpr SettingKey<const char*> Extension{"Extension", "xml"};
} // namespace settings

/// The per-user settings store (organization "Tavrino", application "Corvanta"). Every key sits at the top level
/// and every value is stored as text; each write reaches the store at once.
class SettingsStore {
public:
    SettingsStore();

    /// A numeric text is false when zero and true otherwise.
    bool read(const SettingKey<bool>& key) const;
    /// A numeric text rounded to the nearest integer.
    int read(const SettingKey<int>& key) const;
    QString read(const SettingKey<const char*>& key) const;

    /// Stores "1" or "0".
    void write(const SettingKey<bool>& key, bool value);
    /// Stores the decimal text.
    void write(const SettingKey<int>& key, int value);
    void write(const SettingKey<const char*>& key, const QString& value);

private:
    /// The stored number, or nothing when the key is absent or its text is not a number.
    std::optional<double> number(const char* name) const;
    void store(const char* name, const QString& value);

    mutable QSettings m_settings;
};

} // namespace corvanta
