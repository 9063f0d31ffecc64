// CRulesPage: the "Rules" tab of the settings window.
//
// Lists every rule named by a "#rule" line of "system.sfr" and then of
// "user.sfr" (a user rule of a system rule's name takes its row), in the
// order of RuleOrder with the rules it does not name after them; names in
// RuleOrder that no rule has are dropped.  Column "Rules" holds the name
// and a check box that is on while the rule is enabled (not named in
// DisabledRules); column "Rating" the rating as "%.1f", from key
// "/priority" (tenths, under the encoded name) or else the "#rule" line.
//
// New, Copy, Delete, Rename and Edit change "user.sfr" at once through
// UserRuleFile; a row is added, renamed or removed only when its file
// operation succeeded.  Only user rules can be renamed or deleted.  OK
// empties "/priority" and stores each row's rating there, then RuleOrder
// and DisabledRules at "/".
#pragma once

#include "ui/CCSPropertyPage.h"

#include <QStringList>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class CRulesPage : public CCSPropertyPage
{
    Q_OBJECT
public:
    enum Column { NameColumn = 0, RatingColumn = 1 };

    explicit CRulesPage(QWidget* parent = nullptr);

    bool onOK() override;
    // Wide enough for the list to show its longest rule name whole.
    QSize sizeHint() const override;

    QTreeWidget* list() const { return m_list; }
    QPushButton* newButton() const { return m_new; }
    QPushButton* copyButton() const { return m_copy; }
    QPushButton* deleteButton() const { return m_delete; }
    QPushButton* renameButton() const { return m_rename; }
    QPushButton* editButton() const { return m_edit; }

    // The row of name (exact case), or null.
    QTreeWidgetItem* row(const QString& name) const;
    static bool isUserRule(const QTreeWidgetItem* row);
    static bool isEnabled(const QTreeWidgetItem* row);
    // The names of the rows, in order.
    QStringList names() const;

public slots:
    // Adds "<New user rule #n>" for the first n not in the list.
    void newRule();
    // Copies the current row as "<name> - Copy #n".
    void copyRule();
    // Asks about each selected user rule and removes those confirmed.
    void deleteRules();
    // Starts editing the current user rule's name in place.
    void startRename();
    // Renames the rule of row; true when it was renamed.  The name is
    // trimmed; an empty one, or the row's own, changes nothing; one that
    // another row has, or one holding a line break, is refused with a
    // message.
    bool renameRule(QTreeWidgetItem* row, const QString& newName);
    // Opens the rule editor on the current row.
    void editRule();

protected:
    void onInitialise() override;

private:
    QTreeWidgetItem* addRow(const QString& name, const QString& rating, bool userRule, bool enabled);
    bool nameInUse(const QString& name, const QTreeWidgetItem* except = nullptr) const;
    void labelEdited(QTreeWidgetItem* row, int column);

    QTreeWidget* m_list;
    QPushButton* m_new;
    QPushButton* m_copy;
    QPushButton* m_delete;
    QPushButton* m_rename;
    QPushButton* m_edit;
    bool m_filling = false;
};
