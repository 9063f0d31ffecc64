// RatingSlider: one scale from 0.0 to 10.0 with four handles, the upper
// thresholds of rating bands 1 to 4.
//
// Values are whole tenths (0 to 100).  A handle never passes its
// neighbours: it may meet them (an empty band) but not cross.  The mouse
// drags the handle nearest the press; the keyboard moves the current
// handle (arrows by 0.1, Page Up/Down by 1.0, Home/End to its limits) and
// Tab / Shift+Tab pass from handle to handle before leaving the widget.
// Under the scale the five bands are drawn in their colours.
#pragma once

#include <QWidget>

#include <array>

class RatingSlider : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kHandles = 4;
    static constexpr int kMaximum = 100;   // tenths: 10.0

    explicit RatingSlider(QWidget* parent = nullptr);

    // Sets all four at once; values are brought into 0..100 and made
    // non-decreasing (a later handle never below an earlier one).
    void setValues(const std::array<int, kHandles>& values);
    const std::array<int, kHandles>& values() const { return m_values; }
    int value(int handle) const { return m_values.at(static_cast<size_t>(handle)); }
    // Moves one handle, stopped at its neighbours and the ends of the scale.
    void setValue(int handle, int value);

    int currentHandle() const { return m_current; }
    void setCurrentHandle(int handle);

    // The x coordinate of a value on the scale, for painting and tests.
    int positionOf(int value) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void valuesChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    int valueAt(int x) const;
    int handleNearest(int x) const;

    std::array<int, kHandles> m_values{20, 40, 60, 80};
    int m_current = 0;
    bool m_dragging = false;
};

// The colour of band 1 to 5 (green to red); darker for a disabled button.
QColor bandColour(int band, bool enabled = true);
