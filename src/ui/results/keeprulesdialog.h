#pragma once

#include <QDialog>

class QCheckBox;
class QListWidget;

namespace tunesift {

// Lets the user order and switch off the rules that pick the file to keep, and edit the
// preferred and protected folders. OK stores all three in the settings.
class KeepRulesDialog : public QDialog
{
    Q_OBJECT
public:
    explicit KeepRulesDialog(QWidget* parent = nullptr);

    QListWidget* rulesList() const { return m_rules; }
    QCheckBox* unprovenGroupsBox() const { return m_unproven; }
    // Stores what the dialog shows (what OK does).
    void store() const;

private:
    void moveCurrentRule(int step);

    QListWidget* m_rules = nullptr;
    QListWidget* m_preferred = nullptr;
    QListWidget* m_protected = nullptr;
    QCheckBox* m_unproven = nullptr;
};

// The text a rule shows in the dialog.
QString KeepRuleCaption(int rule);

} // namespace tunesift
