// The settings side's message boxes: a fixed caption, icon and text, shown
// modally.  Returns the button pressed.
#pragma once

#include <QMessageBox>

QMessageBox::StandardButton showMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                                           const QString& text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Yes/No with a question icon; true on Yes.
bool askYesNo(QWidget* parent, const QString& caption, const QString& text);
