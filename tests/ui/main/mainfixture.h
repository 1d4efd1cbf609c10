#pragma once

#include "ui/support/messageboxes.h"

#include <QList>
#include <QString>
#include <functional>

namespace tunesift::test {

// Stands in for the user at the message boxes: records every box and answers through onShow
// (OK, or No for questions, when unset).
class RecordingMessageBoxes : public MessageBoxes
{
public:
    struct Shown
    {
        QString text;
        QString title;
        MessageButtons buttons;
        bool defaultNo = false; // asked through askBeforeHarm
    };

    MessageAnswer show(QWidget* parent, const QString& text, const QString& title,
                       MessageButtons buttons) override;
    MessageAnswer askBeforeHarm(QWidget* parent, const QString& text,
                                const QString& title) override;

    QList<Shown> shown;
    std::function<MessageAnswer(const Shown&)> onShow;
};

// Settings of the tests live in Qt's test location and start empty.
void UseEmptyTestSettings();
void StoreText(const char* key, const QString& value);
// The stored text, or a null QString when the key was never written.
QString StoredText(const char* key);

// A tiny file that starts like an MPEG-1 Layer III frame.
void WriteMp3(const QString& path);

} // namespace tunesift::test
