// The settings window as the tray program opens it: a CCSPropertySheet
// captioned "Quillfence Pro" with the pages Rules, Settings, Patterns,
// Words, Rating, About and Anti-Virus, in that tab order.
#pragma once

#include "ui/CCSPropertySheet.h"

#include <functional>
#include <memory>

class CCSPropertyPage;

// Makes the "Rules" page (parentless; the sheet takes it over).
using RulesPageFactory = std::function<CCSPropertyPage*()>;

// Builds the window; makeRulesPage supplies the first tab, "Rules", and
// when it is empty the window starts at "Settings".  Nothing is read until
// a page is shown.
std::unique_ptr<CCSPropertySheet> buildSettingsWindow(const RulesPageFactory& makeRulesPage = {},
                                                      QWidget* parent = nullptr);
