#pragma once

#include "search/host.h"

#include <QString>

class QWidget;

namespace tunesift {

// The program's modal message boxes: exact text and title, no icon, OK or Yes and No. The windows
// reach them through this interface so the tests can answer in place of the user.
class MessageBoxes
{
public:
    virtual ~MessageBoxes() = default;
    virtual MessageAnswer show(QWidget* parent, const QString& text, const QString& title,
                               MessageButtons buttons) = 0;
    // A question whose Yes deletes or gives up something: Yes and No with No the default, so
    // that Enter alone says No.
    virtual MessageAnswer askBeforeHarm(QWidget* parent, const QString& text, const QString& title)
    {
        return show(parent, text, title, MessageButtons::YesNo);
    }
};

class DialogMessageBoxes final : public MessageBoxes
{
public:
    MessageAnswer show(QWidget* parent, const QString& text, const QString& title,
                       MessageButtons buttons) override;
    MessageAnswer askBeforeHarm(QWidget* parent, const QString& text,
                                const QString& title) override;
};

// The text as a box shows it: a carriage return alone breaks the line, as it does in the boxes
// the messages were written for.
QString MessageBoxDisplayText(const QString& text);

} // namespace tunesift
