// A window's rectangle kept in the proxy's settings as the text
// "left top right bottom" (the editors' EditorPos and ListEditorPos), and
// a window kept within its screen.
#pragma once

#include "common/SettingsTable.h"

class QWidget;

// Moves and sizes window to the stored rectangle; false (window untouched)
// when the value is missing or does not hold four numbers making a
// rectangle.
bool restoreWindowRect(QWidget& window, Setting setting);
void storeWindowRect(const QWidget& window, Setting setting);
// Makes window, with its frame, no larger than its screen's available area
// and moves it inside that area (before it is shown its frame is not known,
// and not counted).
void fitToScreen(QWidget& window);
// fitToScreen now, and again each time the window is shown (when its
// frame is known).
void fitToScreenWhenShown(QWidget& window);
