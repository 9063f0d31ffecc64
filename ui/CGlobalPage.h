// CGlobalPage: the "Rating" page, the four rating thresholds (Rating1 to
// Rating4, unsigned tenths at key "/") on one slider, and a button per
// band that opens the band's actions (CActionPageV2).
//
// A band's button is enabled only while the band is not empty (its lower
// threshold below its upper one); its caption sums up the band's actions
// and is read again after the action dialog closes with OK.  OK stores the
// four thresholds.
#pragma once

#include "ui/CCSPropertyPage.h"

#include <array>

class QPushButton;
class RatingSlider;

class CGlobalPage : public CCSPropertyPage
{
    Q_OBJECT
public:
    static constexpr int kBands = 5;

    explicit CGlobalPage(QWidget* parent = nullptr);

    bool onOK() override;

    RatingSlider* slider() const { return m_slider; }
    // Band 1 to 5.
    QPushButton* bandButton(int band) const { return m_buttons.at(static_cast<size_t>(band - 1)); }

    // "Action..." and, when the band lets mail through or archives, the
    // summary in brackets, e.g. "Action... (Allow, subject, archive)".
    static QString actionCaption(bool allowThrough, bool subject, bool archive);

protected:
    void onInitialise() override;

private:
    void updateButtons();
    void readCaptions();
    void openBand(int band);

    RatingSlider* m_slider;
    std::array<QPushButton*, kBands> m_buttons{};
};
