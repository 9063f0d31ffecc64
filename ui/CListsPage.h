// CListsPage: the "Patterns" page, the pattern lists (".lst", system
// ".sls") of the rules folder.
#pragma once

#include "ui/CListFilesPage.h"

class CListsPage : public CListFilesPage
{
    Q_OBJECT
public:
    explicit CListsPage(QWidget* parent = nullptr) : CListFilesPage("Pattern Lists", ".lst", ".sls", parent) {}
};
