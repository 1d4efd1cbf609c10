#include "mainfixture.h"

#include "platform/settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QTest>

namespace tunesift::test {

MessageAnswer RecordingMessageBoxes::show(QWidget*, const QString& text, const QString& title,
                                          MessageButtons buttons)
{
    shown.append({text, title, buttons});
    if (onShow)
        return onShow(shown.back());
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
}

MessageAnswer RecordingMessageBoxes::askBeforeHarm(QWidget*, const QString& text,
                                                   const QString& title)
{
    shown.append({text, title, MessageButtons::YesNo, true});
    if (onShow)
        return onShow(shown.back());
    return MessageAnswer::No;
}

void UseEmptyTestSettings()
{
    QStandardPaths::setTestModeEnabled(true);
    QSettings settings(QString::fromLatin1(settingskeys::kOrganization),
                       QString::fromLatin1(settingskeys::kApplication));
    QVERIFY2(!settings.fileName().startsWith(
                 QStandardPaths::writableLocation(QStandardPaths::HomeLocation) +
                 QStringLiteral("/.config")),
             qPrintable(settings.fileName()));
    settings.remove(QString::fromLatin1(settingskeys::kGroup));
    settings.sync();
}

void StoreText(const char* key, const QString& value)
{
    SettingsStore store;
    store.setText(key, value);
}

QString StoredText(const char* key)
{
    const SettingsStore store;
    return store.text(key).value_or(QString());
}

void WriteMp3(const QString& path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QByteArray bytes(400, '\0');
    bytes[0] = char(0xFF);
    bytes[1] = char(0xFB);
    bytes[2] = char(0x90);
    bytes[3] = char(0x00);
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace tunesift::test
