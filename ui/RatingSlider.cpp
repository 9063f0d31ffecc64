#include "ui/RatingSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr int kMargin = 12;        // room for a handle at either end
constexpr int kGrooveTop = 18;
constexpr int kGrooveHeight = 8;
constexpr int kHandleHalfWidth = 5;
constexpr int kPageStep = 10;      // one rating point

} // namespace

QColor bandColour(int band, bool enabled)
{
    static const QColor colours[] = {
        QColor(0x22, 0xB1, 0x22),   // green
        QColor(0x9A, 0xE6, 0x6E),   // light green
        QColor(0xFF, 0xE0, 0x33),   // yellow
        QColor(0xFF, 0x99, 0x22),   // orange
        QColor(0xE8, 0x30, 0x24),   // red
    };
    const QColor colour = colours[std::clamp(band, 1, 5) - 1];
    return enabled ? colour : colour.darker(160);
}

RatingSlider::RatingSlider(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RatingSlider::setValues(const std::array<int, kHandles>& values)
{
    int floor = 0;
    for (int i = 0; i < kHandles; ++i) {
        m_values[static_cast<size_t>(i)] = std::clamp(values[static_cast<size_t>(i)], floor, kMaximum);
        floor = m_values[static_cast<size_t>(i)];
    }
    update();
    emit valuesChanged();
}

void RatingSlider::setValue(int handle, int value)
{
    if (handle < 0 || handle >= kHandles)
        return;
    const int low = handle == 0 ? 0 : m_values[static_cast<size_t>(handle - 1)];
    const int high = handle == kHandles - 1 ? kMaximum : m_values[static_cast<size_t>(handle + 1)];
    const int moved = std::clamp(value, low, high);
    if (moved == m_values[static_cast<size_t>(handle)])
        return;
    m_values[static_cast<size_t>(handle)] = moved;
    update();
    emit valuesChanged();
}

void RatingSlider::setCurrentHandle(int handle)
{
    m_current = std::clamp(handle, 0, kHandles - 1);
    update();
}

int RatingSlider::positionOf(int value) const
{
    const int span = std::max(1, width() - 2 * kMargin);
    return kMargin + value * span / kMaximum;
}

int RatingSlider::valueAt(int x) const
{
    const int span = std::max(1, width() - 2 * kMargin);
    const int offset = std::clamp(x - kMargin, 0, span);
    return (offset * kMaximum + span / 2) / span;
}

int RatingSlider::handleNearest(int x) const
{
    // Among handles at the same place, take the one that can move towards
    // the press: the last when it lies to the right, else the first.
    const int target = valueAt(x);
    int best = 0;
    for (int i = 1; i < kHandles; ++i) {
        const int distance = std::abs(m_values[static_cast<size_t>(i)] - target);
        const int bestDistance = std::abs(m_values[static_cast<size_t>(best)] - target);
        if (distance < bestDistance ||
            (distance == bestDistance && target > m_values[static_cast<size_t>(i)]))
            best = i;
    }
    return best;
}

QSize RatingSlider::sizeHint() const
{
    return {360, 56};
}

QSize RatingSlider::minimumSizeHint() const
{
    return {160, 56};
}

void RatingSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The bands along the groove.
    int lower = 0;
    for (int band = 1; band <= kHandles + 1; ++band) {
        const int upper = band <= kHandles ? m_values[static_cast<size_t>(band - 1)] : kMaximum;
        const QRect part(QPoint(positionOf(lower), kGrooveTop),
                         QPoint(positionOf(upper), kGrooveTop + kGrooveHeight));
        painter.fillRect(part, bandColour(band, isEnabled()));
        lower = upper;
    }
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(QRect(QPoint(positionOf(0), kGrooveTop), QPoint(positionOf(kMaximum), kGrooveTop + kGrooveHeight)));

    // Scale marks at every whole point.
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(font());
    for (int point = 0; point <= 10; ++point) {
        const int x = positionOf(point * 10);
        painter.drawLine(x, kGrooveTop + kGrooveHeight + 2, x, kGrooveTop + kGrooveHeight + 6);
        const QString label = QString::number(point);
        painter.drawText(x - metrics.horizontalAdvance(label) / 2, height() - 4, label);
    }

    // Handles: a pointer above the groove, the current one highlighted.
    for (int i = 0; i < kHandles; ++i) {
        const int x = positionOf(m_values[static_cast<size_t>(i)]);
        const QPolygon pointer({QPoint(x - kHandleHalfWidth, 2), QPoint(x + kHandleHalfWidth, 2),
                                QPoint(x + kHandleHalfWidth, kGrooveTop - 6), QPoint(x, kGrooveTop + kGrooveHeight),
                                QPoint(x - kHandleHalfWidth, kGrooveTop - 6)});
        const bool current = i == m_current && hasFocus();
        painter.setBrush(current ? palette().color(QPalette::Highlight) : palette().color(QPalette::Button));
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawPolygon(pointer);
    }
}

void RatingSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    const int x = qRound(event->position().x());
    setCurrentHandle(handleNearest(x));
    m_dragging = true;
    setValue(m_current, valueAt(x));
}

void RatingSlider::mouseMoveEvent(QMouseEvent* event)
{
    if (m_dragging)
        setValue(m_current, valueAt(qRound(event->position().x())));
}

void RatingSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_dragging && event->button() == Qt::LeftButton)
        m_dragging = false;
}

void RatingSlider::keyPressEvent(QKeyEvent* event)
{
    const int now = m_values[static_cast<size_t>(m_current)];
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        setValue(m_current, now - 1);
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        setValue(m_current, now + 1);
        break;
    case Qt::Key_PageDown:
        setValue(m_current, now - kPageStep);
        break;
    case Qt::Key_PageUp:
        setValue(m_current, now + kPageStep);
        break;
    case Qt::Key_Home:
        setValue(m_current, 0);
        break;
    case Qt::Key_End:
        setValue(m_current, kMaximum);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

bool RatingSlider::focusNextPrevChild(bool next)
{
    const int to = m_current + (next ? 1 : -1);
    if (to >= 0 && to < kHandles) {
        setCurrentHandle(to);
        return true;
    }
    return QWidget::focusNextPrevChild(next);
}
