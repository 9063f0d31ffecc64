// CListFilesPage: a page listing the list files of one kind in the rules
// folder, the user's (editable in the list editor) and the shipped system
// lists (shown, marked, and refused for editing).  CListsPage and
// CWordsPage are its two kinds.  The page writes nothing on OK.
#pragma once

#include "ui/CCSPropertyPage.h"

class QTreeWidget;
class QTreeWidgetItem;

class CListFilesPage : public CCSPropertyPage
{
    Q_OBJECT
public:
    // What is shown after a system list's name.
    static const char* const kSystemMark;

    // column: the list's heading; userExtension, systemExtension: ".lst"
    // and ".sls", or ".wrd" and ".swd".
    CListFilesPage(const QString& column, const QString& userExtension, const QString& systemExtension,
                   QWidget* parent = nullptr);

    bool onOK() override { return true; }

    QTreeWidget* lists() const { return m_lists; }
    // Opens the list of row (the editor for a user list, a refusal for a
    // system one).
    void openRow(int row);

protected:
    void onInitialise() override;

private:
    void openItem(QTreeWidgetItem* item);

    QString m_userExtension;
    QString m_systemExtension;
    QTreeWidget* m_lists;
};
