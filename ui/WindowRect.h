// A window's rectangle kept in the proxy's settings as the text
// "left top right bottom" (the editors' EditorPos and ListEditorPos).
#pragma once

#include "common/SettingsTable.h"

class QWidget;

// Moves and sizes window to the stored rectangle; false (window untouched)
// when the value is missing or does not hold four numbers making a
// rectangle.
bool restoreWindowRect(QWidget& window, Setting setting);
void storeWindowRect(const QWidget& window, Setting setting);
