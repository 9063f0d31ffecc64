#include "ui/SettingsWindow.h"

#include "ui/CAboutPage.h"
#include "ui/CAntiVirusPage.h"
#include "ui/CGeneralPage.h"
#include "ui/CGlobalPage.h"
#include "ui/CListsPage.h"
#include "ui/CRulesPage.h"
#include "ui/CWordsPage.h"

std::unique_ptr<CCSPropertySheet> buildSettingsWindow(QWidget* parent)
{
    auto sheet = std::make_unique<CCSPropertySheet>("Quillfence Pro", parent);
    sheet->addPage(new CRulesPage, "Rules");
    sheet->addPage(new CGeneralPage, "Settings");
    sheet->addPage(new CListsPage, "Patterns");
    sheet->addPage(new CWordsPage, "Words");
    sheet->addPage(new CGlobalPage, "Rating");
    sheet->addPage(new CAboutPage, "About");
    sheet->addPage(new CAntiVirusPage, "Anti-Virus");
    return sheet;
}
