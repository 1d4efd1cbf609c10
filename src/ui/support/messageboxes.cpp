#include "ui/support/messageboxes.h"

#include <QMessageBox>

namespace tunesift {

QString MessageBoxDisplayText(const QString& text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

MessageAnswer DialogMessageBoxes::show(QWidget* parent, const QString& text, const QString& title,
                                       MessageButtons buttons)
{
    const bool yesNo = buttons == MessageButtons::YesNo;
    QMessageBox box(QMessageBox::NoIcon, title, MessageBoxDisplayText(text),
                    yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent);
    // Paths come from the file system; they must never be read as markup.
    box.setTextFormat(Qt::PlainText);
    const int pressed = box.exec();
    if (!yesNo)
        return MessageAnswer::Ok;
    return pressed == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

MessageAnswer DialogMessageBoxes::askBeforeHarm(QWidget* parent, const QString& text,
                                                const QString& title)
{
    QMessageBox box(QMessageBox::NoIcon, title, MessageBoxDisplayText(text),
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
}

} // namespace tunesift
