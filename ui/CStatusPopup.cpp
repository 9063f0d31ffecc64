#include "ui/CStatusPopup.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace {

const char kTitle[] = "Quillfence Pro";

} // namespace

TaskbarEdge taskbarEdge(const QRect& screen, const QRect& available)
{
    if (available.bottom() < screen.bottom())
        return TaskbarEdge::Bottom;
    if (available.top() > screen.top())
        return TaskbarEdge::Top;
    if (available.left() > screen.left())
        return TaskbarEdge::Left;
    if (available.right() < screen.right())
        return TaskbarEdge::Right;
    return TaskbarEdge::None;
}

QPoint statusPopupPosition(TaskbarEdge edge, const QRect& trayArea, const QRect& screen, const QSize& popup)
{
    const int w = popup.width();
    const int h = popup.height();
    if (!trayArea.isValid())
        edge = TaskbarEdge::None;
    switch (edge) {
    case TaskbarEdge::Bottom:
        return {trayArea.right() + 1 - w, trayArea.top() - 2 - h};
    case TaskbarEdge::Top:
        return {trayArea.right() + 1 - w, trayArea.bottom() + 1 + 2};
    case TaskbarEdge::Left:
        return {trayArea.right() + 1 + 8, trayArea.bottom() + 1 - h};
    case TaskbarEdge::Right:
        return {trayArea.left() - 8 - w, trayArea.bottom() + 1 - h};
    case TaskbarEdge::None:
        break;
    }
    return {screen.right() + 1 - 8 - w, screen.bottom() + 1 - 8 - h};
}

CStatusPopup::CStatusPopup(QWidget* parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_titleFont("Arial Black", 8), m_textFont("Arial", 8)
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Window);
    const QFontMetrics title(m_titleFont);
    const QFontMetrics text(m_textFont);
    const int width = std::max(title.horizontalAdvance(kTitle), text.horizontalAdvance(QString(20, 'X'))) + 4;
    setFixedSize(width, title.height() + text.height() + 4);
}

void CStatusPopup::setStatusText(const QString& text)
{
    m_text = text;
    update();
}

void CStatusPopup::placeBeside(const QRect& trayArea)
{
    QScreen* screen = trayArea.isValid() ? QGuiApplication::screenAt(trayArea.center()) : nullptr;
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return;
    const TaskbarEdge edge = taskbarEdge(screen->geometry(), screen->availableGeometry());
    move(statusPopupPosition(edge, trayArea, screen->geometry(), size()));
}

void CStatusPopup::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QFontMetrics title(m_titleFont);
    painter.setFont(m_titleFont);
    painter.drawText(QRect(2, 2, width() - 4, title.height()), Qt::AlignLeft | Qt::AlignVCenter, kTitle);
    painter.setFont(m_textFont);
    painter.drawText(QRect(2, 2 + title.height(), width() - 4, height() - 4 - title.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, m_text);
}
