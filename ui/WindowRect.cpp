#include "ui/WindowRect.h"

#include "common/SettingValues.h"
#include "ui/SettingsKey.h"

#include <QEvent>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>

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

void fitToScreen(QWidget& window)
{
    const QScreen* screen = window.screen();
    if (screen == nullptr)
        return;
    const QRect area = screen->availableGeometry();
    // The frame, once the window system has put one around the window.
    const QSize frame = window.frameGeometry().size() - window.geometry().size();
    const QSize room = area.size() - frame;
    const QSize size = window.size().boundedTo(room).expandedTo(window.minimumSize().boundedTo(room));
    if (size != window.size())
        window.resize(size);
    const QSize outer = window.frameGeometry().size();
    const int right = std::max(area.left(), area.left() + area.width() - outer.width());
    const int bottom = std::max(area.top(), area.top() + area.height() - outer.height());
    const QPoint at(std::clamp(window.x(), area.left(), right), std::clamp(window.y(), area.top(), bottom));
    if (at != window.pos())
        window.move(at);
}

namespace {

// Fits its window to the screen once the window is shown and has a frame.
class ScreenFitter : public QObject
{
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            QWidget* window = static_cast<QWidget*>(watched);
            QTimer::singleShot(0, window, [window] { fitToScreen(*window); });
        }
        return false;
    }
};

} // namespace

void fitToScreenWhenShown(QWidget& window)
{
    fitToScreen(window);
    window.installEventFilter(new ScreenFitter(&window));
}
