#include "ui/CGeneralPage.h"

#include "common/CEventLog.h"
#include "common/CRegistry.h"
#include "proxy/CAcceptor.h"
#include "ui/MessageBoxes.h"
#include "ui/SettingsKey.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QSpinBox>

#include <algorithm>

namespace {

constexpr int kMaxDays = 999;
constexpr int kMaxSize = 32000;   // kilobytes
constexpr int kMaxPort = 32000;
constexpr int kMaxCollectionSeconds = 600;
// What the field accepts while typing: enough digits for any value a user
// means, so that a value past the bound reaches the clamping on OK instead
// of being cut silently by the field.
constexpr int kTypedMax = 999999;

// Accepts any typed value from 0 to kTypedMax but steps (arrows, wheel)
// only within 1..upper.
class BoundedSpinBox : public QSpinBox
{
public:
    BoundedSpinBox(int upper, QWidget* parent) : QSpinBox(parent), m_upper(upper)
    {
        setRange(0, kTypedMax);
    }

    void stepBy(int steps) override
    {
        setValue(std::clamp(value() + steps * singleStep(), 1, m_upper));
    }

protected:
    StepEnabled stepEnabled() const override
    {
        StepEnabled enabled = StepNone;
        if (value() > 1)
            enabled |= StepDownEnabled;
        if (value() < m_upper)
            enabled |= StepUpEnabled;
        return enabled;
    }

private:
    int m_upper;
};

// The separator choices: the first character of an entry is the one stored.
const char* const kSeparators[] = {
    "@  (at sign)", "%  (percent)", "#  (hash)", "!  (exclamation mark)", "+  (plus)",
    "$  (dollar)",  "&  (ampersand)", "*  (asterisk)", "=  (equals)", "~  (tilde)",
};

int asInt(bool value)
{
    return value ? 1 : 0;
}

} // namespace

CGeneralPage::CGeneralPage(QWidget* parent)
    : CCSPropertyPage(parent),
      m_tidy(new QCheckBox(tr("Delete archived mail older than the days below"), this)),
      m_tidyDays(new BoundedSpinBox(kMaxDays, this)),
      m_maxSpamSize(new BoundedSpinBox(kMaxSize, this)),
      m_logging(new QComboBox(this)),
      m_tidyLogs(new QCheckBox(tr("Delete log files older than the days below"), this)),
      m_tidyLogDays(new BoundedSpinBox(kMaxDays, this)),
      m_popupStatus(new QCheckBox(tr("Show the status popup while collecting mail"), this)),
      m_separatorChar(new QComboBox(this)),
      m_collectionReport(new QCheckBox(tr("Send a collection report"), this)),
      m_listenPort(new BoundedSpinBox(kMaxPort, this)),
      m_maxCollectionTime(new QSpinBox(this))
{
    m_logging->addItems({tr("Detailed (with mail traffic)"), tr("Normal"), tr("Errors and warnings only")});
    for (const char* entry : kSeparators)
        m_separatorChar->addItem(QString::fromLatin1(entry));
    m_maxCollectionTime->setRange(0, kMaxCollectionSeconds);
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

unsigned long CGeneralPage::loggingMask(int choice)
{
    switch (choice) {
    case 1:
        return 8199;
    case 2:
        return 8195;
    default:
        return 8391;
    }
}

int CGeneralPage::clampSetting(int value, int upper)
{
    if (value >= upper)
        return upper;
    if (value <= 0)
        return 1;
    return value;
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
    bool tidy = false;
    int tidyDays = 7;
    int maxSpamSize = 30;
    int logging = 0;
    bool tidyLogs = false;
    int tidyLogDays = 7;
    bool popupStatus = true;
    unsigned separator = '@';
    bool collectionReport = false;
    int port = CAcceptor::kDefaultPort;
    int maxCollectionTime = 0;
    CRegistry reg;
    if (openSettingsKey(reg)) {
        reg.QueryValue("Tidy", tidy);
        reg.QueryValue("TidyDays", tidyDays);
        reg.QueryValue("MaxSpamSize", maxSpamSize);
        reg.QueryValue("Logging", logging);
        reg.QueryValue("TidyLogs", tidyLogs);
        reg.QueryValue("TidyLogDays", tidyLogDays);
        reg.QueryValue("PopupStatus", popupStatus);
        reg.QueryValue("SeparatorChar", separator);
        reg.QueryValue("CollectionReport", collectionReport);
        reg.QueryValue("ListenPort", port);
        reg.QueryValue("MaxCollectionTime", maxCollectionTime);
    }
    m_tidy->setChecked(tidy);
    m_tidyDays->setValue(tidyDays);
    m_maxSpamSize->setValue(maxSpamSize);
    m_logging->setCurrentIndex(logging >= 0 && logging <= 2 ? logging : 0);
    m_tidyLogs->setChecked(tidyLogs);
    m_tidyLogDays->setValue(tidyLogDays);
    m_popupStatus->setChecked(popupStatus);
    selectSeparator(separator);
    m_collectionReport->setChecked(collectionReport);
    m_listenPort->setValue(port);
    m_maxCollectionTime->setValue(maxCollectionTime);
    m_loadedPort = port;
}

bool CGeneralPage::onOK()
{
    const int logging = m_logging->currentIndex();
    const int port = clampSetting(m_listenPort->value(), kMaxPort);
    CEventLog::SetLogging(loggingMask(logging));

    CRegistry reg;
    if (!openSettingsKey(reg))
        return true;
    reg.SetValue("Tidy", asInt(m_tidy->isChecked()));
    reg.SetValue("TidyDays", clampSetting(m_tidyDays->value(), kMaxDays));
    reg.SetValue("MaxSpamSize", clampSetting(m_maxSpamSize->value(), kMaxSize));
    reg.SetValue("Logging", logging);
    reg.SetValue("TidyLogs", asInt(m_tidyLogs->isChecked()));
    reg.SetValue("TidyLogDays", clampSetting(m_tidyLogDays->value(), kMaxDays));
    reg.SetValue("PopupStatus", asInt(m_popupStatus->isChecked()));
    const QString separator = m_separatorChar->currentText();
    if (!separator.isEmpty())
        reg.SetValue("SeparatorChar", static_cast<int>(separator.at(0).unicode()));
    reg.SetValue("CollectionReport", asInt(m_collectionReport->isChecked()));
    reg.SetValue("ListenPort", port);
    reg.SetValue("MaxCollectionTime", m_maxCollectionTime->value());
    reg.CloseKey();

    if (port != m_loadedPort) {
        showMessageBox(this, QMessageBox::Warning, "Quillfence Pro",
                       "Port change will not take effect\nuntil you restart Quillfence Pro");
        m_loadedPort = port;
    }
    return true;
}
