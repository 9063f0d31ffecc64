#include "ui/CGlobalPage.h"

#include "common/CRegistry.h"
#include "common/SettingValues.h"
#include "ui/CActionPageV2.h"
#include "ui/RatingSlider.h"
#include "ui/SettingsKey.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <string>

CGlobalPage::CGlobalPage(QWidget* parent) : CCSPropertyPage(parent), m_slider(new RatingSlider(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Move the thresholds to set the five rating bands:"), this));
    layout->addWidget(m_slider);
    auto* grid = new QGridLayout;
    for (int band = 1; band <= kBands; ++band) {
        auto* button = new QPushButton(tr("Action..."), this);
        QPalette colours = button->palette();
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            colours.setColor(group, QPalette::Button, bandColour(band, true));
        colours.setColor(QPalette::Disabled, QPalette::Button, bandColour(band, false));
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            colours.setColor(group, QPalette::ButtonText, Qt::black);
        button->setPalette(colours);
        button->setAutoFillBackground(true);
        connect(button, &QPushButton::clicked, this, [this, band] { openBand(band); });
        m_buttons[static_cast<size_t>(band - 1)] = button;
        grid->addWidget(new QLabel(tr("Band %1").arg(band), this), band - 1, 0);
        grid->addWidget(button, band - 1, 1);
    }
    layout->addLayout(grid);
    layout->addStretch();
    connect(m_slider, &RatingSlider::valuesChanged, this, &CGlobalPage::updateButtons);
    updateButtons();
}

QString CGlobalPage::actionCaption(bool allowThrough, bool subject, bool archive)
{
    QString caption = "Action...";
    if (!allowThrough && !archive)
        return caption;
    caption += " (";
    if (allowThrough) {
        caption += "Allow";
        if (subject)
            caption += ", subject";
    }
    if (archive)
        caption += allowThrough ? ", archive" : "Archive";
    caption += ")";
    return caption;
}

void CGlobalPage::onInitialise()
{
    std::array<int, RatingSlider::kHandles> thresholds{};
    CRegistry reg;
    openSettingsKey(reg);   // when it cannot be opened, every default shows
    for (int i = 0; i < RatingSlider::kHandles; ++i)
        thresholds[static_cast<size_t>(i)] = settingNumber(reg, Setting::Rating, i + 1);
    m_slider->setValues(thresholds);
    readCaptions();
}

void CGlobalPage::readCaptions()
{
    CRegistry reg;
    openSettingsKey(reg);
    for (int band = 1; band <= kBands; ++band)
        bandButton(band)->setText(actionCaption(settingFlag(reg, Setting::AllowThrough, band),
                                                settingFlag(reg, Setting::Subject, band),
                                                settingFlag(reg, Setting::Archive, band)));
}

void CGlobalPage::updateButtons()
{
    int lower = 0;
    for (int band = 1; band <= kBands; ++band) {
        const int upper = band < kBands ? m_slider->value(band - 1) : RatingSlider::kMaximum;
        bandButton(band)->setEnabled(lower < upper);
        lower = upper;
    }
}

void CGlobalPage::openBand(int band)
{
    const int lower = band == 1 ? 0 : m_slider->value(band - 2);
    const int upper = band == kBands ? RatingSlider::kMaximum : m_slider->value(band - 1);
    CActionPageV2 dialog(band, lower / 10.0, upper / 10.0, this);
    if (dialog.exec() == QDialog::Accepted)
        readCaptions();
}

bool CGlobalPage::onOK()
{
    CRegistry reg;
    if (!openSettingsKey(reg))
        return true;
    for (int i = 0; i < RatingSlider::kHandles; ++i)
        storeSetting(reg, Setting::Rating, m_slider->value(i), i + 1);
    return true;
}
