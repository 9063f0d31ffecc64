// CStatusPopup: the small window beside the notification area that shows
// what the proxy is doing while a client is served.
//
// Two lines: "Quillfence Pro" in 8-point Arial Black and the latest status
// text in 8-point Arial.  Width: the wider of the title and twenty "X", plus
// 4 pixels; height: both line heights plus 4.  statusPopupPosition places
// it beside the notification area, by the edge the taskbar stands at.
#pragma once

#include <QFont>
#include <QRect>
#include <QWidget>

enum class TaskbarEdge { None, Bottom, Top, Left, Right };

// The edge a panel takes from the screen: the side where the available
// area stops short of the screen.  None when it covers the whole screen.
TaskbarEdge taskbarEdge(const QRect& screen, const QRect& available);

// The popup's top-left corner.  Bottom: right edges aligned, 2 pixels above
// the notification area; Top: the same, 2 pixels below it; Left: 8 pixels
// to its right, Right: 8 pixels to its left, bottom edges aligned.  None (or
// no notification area known): 8 pixels from the screen's bottom right
// corner.
QPoint statusPopupPosition(TaskbarEdge edge, const QRect& trayArea, const QRect& screen, const QSize& popup);

class CStatusPopup : public QWidget
{
    Q_OBJECT
public:
    explicit CStatusPopup(QWidget* parent = nullptr);

    // Replaces the second line and redraws it.
    void setStatusText(const QString& text);
    QString statusText() const { return m_text; }

    // Places the popup for the notification area trayArea (invalid when
    // unknown) on the screen that holds it, or the primary screen.
    void placeBeside(const QRect& trayArea);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont m_titleFont;
    QFont m_textFont;
    QString m_text;
};
