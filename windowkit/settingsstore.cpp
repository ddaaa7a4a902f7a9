#include "windowkit/settingsstore.h"

#include <cmath>

namespace corvanta {

SettingsStore::SettingsStore()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tavrino"), QStringLiteral("Corvanta")) {
}

bool SettingsStore::read(const SettingKey<bool>& key) const {
    const std::optional<double> value = number(key.name);
    return value ? *value != 0.0 : key.defaultValue;
}

int SettingsStore::read(const SettingKey<int>& key) const {
    const std::optional<double> value = number(key.name);
    if (!value || std::abs(*value) > 2147483647.0)
        return key.defaultValue;
    return int(std::lround(*value));
}

QString SettingsStore::read(const SettingKey<const char*>& key) const {
    return m_settings.value(QLatin1String(key.name), QString::fromLatin1(key.defaultValue)).toString();
}

void SettingsStore::write(const SettingKey<bool>& key, bool value) {
    store(key.name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void SettingsStore::write(const SettingKey<int>& key, int value) {
    store(key.name, QString::number(value));
}

void SettingsStore::write(const SettingKey<const char*>& key, const QString& value) {
    store(key.name, value);
}

std::optional<double> SettingsStore::number(const char* name) const {
    bool ok = false;
    const double value = m_settings.value(QLatin1String(name)).toString().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

void SettingsStore::store(const char* name, const QString& value) {
    m_settings.setValue(QLatin1String(name), value);
    // Every preference is written at once, so a crash or a killed session loses nothing.
    m_settings.sync();
}

} // namespace corvanta
