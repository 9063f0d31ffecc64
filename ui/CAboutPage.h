// CAboutPage: the "About" page, the product's name and the program's
// version.  It has nothing to store.
#pragma once

#include "ui/CCSPropertyPage.h"

class QLabel;

class CAboutPage : public CCSPropertyPage
{
    Q_OBJECT
public:
    explicit CAboutPage(QWidget* parent = nullptr);

    bool onOK() override { return true; }

    // The version this program was built as; empty when the build gave none.
    static QString version();

    QLabel* versionLabel() const { return m_version; }

protected:
    void onInitialise() override {}

private:
    QLabel* m_version;
};
