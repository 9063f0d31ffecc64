// CWordsPage: the "Words" page, the word lists (".wrd", system ".swd") of
// the rules folder.
#pragma once

#include "ui/CListFilesPage.h"

class CWordsPage : public CListFilesPage
{
    Q_OBJECT
public:
    explicit CWordsPage(QWidget* parent = nullptr) : CListFilesPage("Word Lists", ".wrd", ".swd", parent) {}
};
