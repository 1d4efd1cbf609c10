#include "platform/settings.h"

#include <QSettings>

namespace tunesift {

struct SettingsStore::Impl
{
    QSettings settings{QString::fromLatin1(settingskeys::kOrganization),
                       QString::fromLatin1(settingskeys::kApplication)};
};

namespace {
QString groupKey(const char* key)
{
    return QString::fromLatin1(settingskeys::kGroup) + QLatin1Char('/') + QString::fromLatin1(key);
}
} // namespace

SettingsStore::SettingsStore() : m_impl(new Impl) {}

SettingsStore::~SettingsStore()
{
    delete m_impl;
}

std::optional<QString> SettingsStore::text(const char* key) const
{
    const QVariant value = m_impl->settings.value(groupKey(key));
    if (!value.isValid())
        return std::nullopt;
    return value.toString();
}

void SettingsStore::setText(const char* key, const QString& value)
{
    m_impl->settings.setValue(groupKey(key), value);
}

std::optional<qint16> SettingsStore::readInt16(const char* key) const
{
    const std::optional<QString> stored = text(key);
    if (!stored)
        return std::nullopt;
    bool ok = false;
    const int number = stored->trimmed().toInt(&ok);
    if (!ok || number < -32768 || number > 32767)
        return std::nullopt;
    return static_cast<qint16>(number);
}

void SettingsStore::writeNumber(const char* key, qint64 value)
{
    setText(key, QString::number(value));
}

bool SettingsStore::readBool(const char* key) const
{
    const std::optional<QString> stored = text(key);
    if (!stored)
        return false;
    const QString trimmed = stored->trimmed();
    if (trimmed.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    bool ok = false;
    const double number = trimmed.toDouble(&ok);
    return ok && number != 0.0;
}

void SettingsStore::writeBool(const char* key, bool value)
{
    setText(key, value ? QStringLiteral("True") : QStringLiteral("False"));
}

QStringList SettingsStore::textList(const char* key) const
{
    return m_impl->settings.value(groupKey(key)).toStringList();
}

void SettingsStore::setTextList(const char* key, const QStringList& values)
{
    m_impl->settings.setValue(groupKey(key), values);
}

void SettingsStore::sync()
{
    m_impl->settings.sync();
}

} // namespace tunesift
