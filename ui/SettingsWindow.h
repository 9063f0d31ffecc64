// The settings window as the tray program opens it: a CCSPropertySheet
// captioned "Quillfence Pro" with the pages Rules, Settings, Patterns,
// Words, Rating, About and Anti-Virus, in that tab order.
#pragma once

#include "ui/CCSPropertySheet.h"

#include <memory>

// Builds the window, open at "Rules".  A page reads nothing until it is
// first shown.
std::unique_ptr<CCSPropertySheet> buildSettingsWindow(QWidget* parent = nullptr);
