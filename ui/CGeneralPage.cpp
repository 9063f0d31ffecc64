#include "ui/CGeneralPage.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "common/SettingValues.h"
#include "ui/MessageBoxes.h"
#include "ui/SettingsKey.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QSpinBox>

#include <algorithm>

namespace {

// What the field accepts while typing: enough digits for any value a user
// means, so that a value past the bound reaches the clamping on OK instead
// of being cut silently by the field.
constexpr int kTypedMax = 999999;

// Accepts any typed value from 0 to kTypedMax but steps (arrows, wheel)
// only within the setting's range.
class BoundedSpinBox : public QSpinBox
{
public:
    BoundedSpinBox(Setting setting, QWidget* parent)
        : QSpinBox(parent), m_lower(static_cast<int>(settingInfo(setting).minimum)),
          m_upper(static_cast<int>(settingInfo(setting).maximum))
    {
        setRange(0, kTypedMax);
    }

    void stepBy(int steps) override
    {
        setValue(std::clamp(value() + steps * singleStep(), m_lower, m_upper));
    }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (value() > m_lower)
            enabled |= StepDownEnabled;
        if (value() < m_upper)
            enabled |= StepUpEnabled;
        return enabled;
    }

private:
    int m_lower;
    int m_upper;
};

// The separator choices: the first character of an entry is the one stored.
const char* const kSeparators[] = {
    "@  (at sign)", "%  (percent)", "#  (hash)", "!  (exclamation mark)", "+  (plus)",
    "$  (dollar)",  "&  (ampersand)", "*  (asterisk)", "=  (equals)", "~  (tilde)",
};

} // namespace

CGeneralPage::CGeneralPage(QWidget* parent)
    : CCSPropertyPage(parent),
      m_tidy(new QCheckBox(tr("Delete archived mail older than the days below"), this)),
      m_tidyDays(new BoundedSpinBox(Setting::TidyDays, this)),
      m_maxSpamSize(new BoundedSpinBox(Setting::MaxSpamSize, this)),
      m_logging(new QComboBox(this)),
      m_tidyLogs(new QCheckBox(tr("Delete log files older than the days below"), this)),
      m_tidyLogDays(new BoundedSpinBox(Setting::TidyLogDays, this)),
      m_popupStatus(new QCheckBox(tr("Show the status popup while collecting mail"), this)),
      m_separatorChar(new QComboBox(this)),
      m_collectionReport(new QCheckBox(tr("Send a collection report"), this)),
      m_listenPort(new BoundedSpinBox(Setting::ListenPort, this)),
      m_maxCollectionTime(new QSpinBox(this))
{
    m_logging->addItems({tr("Detailed (with mail traffic)"), tr("Normal"), tr("Errors and warnings only")});
    for (const char* entry : kSeparators)
        m_separatorChar->addItem(QString::fromLatin1(entry));
    m_maxCollectionTime->setRange(static_cast<int>(settingInfo(Setting::MaxCollectionTime).minimum),
                                  static_cast<int>(settingInfo(Setting::MaxCollectionTime).maximum));
    m_maxCollectionTime->setSpecialValueText(tr("No limit"));
    m_tidyDays->setSuffix(tr(" days"));
    m_tidyLogDays->setSuffix(tr(" days"));
    m_maxSpamSize->setSuffix(tr(" KB"));
    m_maxCollectionTime->setSuffix(tr(" s"));

    auto* form = new QFormLayout(this);
    form->addRow(m_tidy);
    form->addRow(tr("Archive days:"), m_tidyDays);
    form->addRow(tr("Largest message filtered:"), m_maxSpamSize);
    form->addRow(tr("Logging:"), m_logging);
    form->addRow(m_tidyLogs);
    form->addRow(tr("Log days:"), m_tidyLogDays);
    form->addRow(m_popupStatus);
    form->addRow(tr("User name separator:"), m_separatorChar);
    form->addRow(m_collectionReport);
    form->addRow(tr("Listening port:"), m_listenPort);
    form->addRow(tr("Longest collection:"), m_maxCollectionTime);
}

void CGeneralPage::selectSeparator(unsigned code)
{
    for (int i = 0; i < m_separatorChar->count(); ++i) {
        if (m_separatorChar->itemText(i).at(0).unicode() == code) {
            m_separatorChar->setCurrentIndex(i);
            return;
        }
    }
    // A character stored by hand stays choosable, so OK keeps it.
    if (code > 0 && code < 0x10000) {
        m_separatorChar->addItem(QString(QChar(static_cast<char16_t>(code))));
        m_separatorChar->setCurrentIndex(m_separatorChar->count() - 1);
    }
}

void CGeneralPage::onInitialise()
{
    CRegistry reg;
    openSettingsKey(reg);   // when it cannot be opened, every default shows
    const int logging = settingNumber(reg, Setting::Logging);
    m_tidy->setChecked(settingFlag(reg, Setting::Tidy));
    m_tidyDays->setValue(settingNumber(reg, Setting::TidyDays));
    m_maxSpamSize->setValue(settingNumber(reg, Setting::MaxSpamSize));
    m_logging->setCurrentIndex(logging);
    m_tidyLogs->setChecked(settingFlag(reg, Setting::TidyLogs));
    m_tidyLogDays->setValue(settingNumber(reg, Setting::TidyLogDays));
    m_popupStatus->setChecked(settingFlag(reg, Setting::PopupStatus));
    selectSeparator(static_cast<unsigned>(settingNumber(reg, Setting::SeparatorChar)));
    m_collectionReport->setChecked(settingFlag(reg, Setting::CollectionReport));
    m_listenPort->setValue(settingNumber(reg, Setting::ListenPort));
    m_maxCollectionTime->setValue(settingNumber(reg, Setting::MaxCollectionTime));
    m_loadedPort = m_listenPort->value();
}

bool CGeneralPage::onOK()
{
    const int logging = m_logging->currentIndex();
    const int port = static_cast<int>(clampSetting(Setting::ListenPort, m_listenPort->value()));

    CRegistry reg;
    const bool opened = openSettingsKey(reg);
    // A handle that did not open reads every default.
    CEventLog::SetLogging(eventLogMask(logging, settingFlag(reg, Setting::DebugLogging)));
    if (!opened)
        return true;
    // The page writes flags in the number form, as it always has.
    storeFlag(reg, Setting::Tidy, m_tidy->isChecked(), 0, true);
    storeSetting(reg, Setting::TidyDays, m_tidyDays->value());
    storeSetting(reg, Setting::MaxSpamSize, m_maxSpamSize->value());
    storeSetting(reg, Setting::Logging, logging);
    storeFlag(reg, Setting::TidyLogs, m_tidyLogs->isChecked(), 0, true);
    storeSetting(reg, Setting::TidyLogDays, m_tidyLogDays->value());
    storeFlag(reg, Setting::PopupStatus, m_popupStatus->isChecked(), 0, true);
    const QString separator = m_separatorChar->currentText();
    if (!separator.isEmpty())
        storeSetting(reg, Setting::SeparatorChar, separator.at(0).unicode());
    storeFlag(reg, Setting::CollectionReport, m_collectionReport->isChecked(), 0, true);
    storeSetting(reg, Setting::ListenPort, port);
    storeSetting(reg, Setting::MaxCollectionTime, m_maxCollectionTime->value());
    reg.CloseKey();

    if (port != m_loadedPort) {
        showMessageBox(this, QMessageBox::Warning, "Quillfence Pro",
                       "Port change will not take effect\nuntil you restart Quillfence Pro");
        m_loadedPort = port;
    }
    return true;
}
