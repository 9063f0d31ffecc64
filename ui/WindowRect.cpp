#include "ui/WindowRect.h"

#include "common/SettingValues.h"
#include "ui/SettingsKey.h"

#include <QWidget>

#include <cstdio>
#include <string>

bool restoreWindowRect(QWidget& window, Setting setting)
{
    CRegistry reg;
    std::string rect;
    if (!openSettingsKey(reg) || !querySetting(reg, setting, rect))
        return false;
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    if (std::sscanf(rect.c_str(), "%d %d %d %d", &left, &top, &right, &bottom) != 4 || right <= left ||
        bottom <= top)
        return false;
    window.setGeometry(left, top, right - left, bottom - top);
    return true;
}

void storeWindowRect(const QWidget& window, Setting setting)
{
    CRegistry reg;
    if (!openSettingsKey(reg))
        return;
    const QRect frame = window.geometry();
    const std::string rect = std::to_string(frame.left()) + " " + std::to_string(frame.top()) + " " +
                             std::to_string(frame.left() + frame.width()) + " " +
                             std::to_string(frame.top() + frame.height());
    storeSetting(reg, setting, rect);
}
