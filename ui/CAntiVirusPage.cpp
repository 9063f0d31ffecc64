#include "ui/CAntiVirusPage.h"

#include "common/CRegistry.h"
#include "common/DataRoots.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "ui/SettingsKey.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const char* const kKey = settingInfo(Setting::Scan).key;

} // namespace

QString CAntiVirusPage::defaultQuarantinePath()
{
    if (programContext().dataRoot.empty())
        return {};
    return QString::fromLocal8Bit(programStateFolder());
}

CAntiVirusPage::CAntiVirusPage(QWidget* parent)
    : CCSPropertyPage(parent),
      m_scan(new QCheckBox(tr("Scan attachments for viruses"), this)),
      m_quarantine(new QCheckBox(tr("Keep infected attachments in quarantine"), this)),
      m_quarantinePath(new QLineEdit(this)),
      m_browse(new QPushButton(tr("Browse..."), this)),
      m_mimeTypes(new QPlainTextEdit(this)),
      m_defaultPath(defaultQuarantinePath())
{
    if (!m_defaultPath.isEmpty())
        makeFolders(m_defaultPath.toStdString());

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_quarantinePath);
    pathRow->addWidget(m_browse);
    auto* form = new QFormLayout(this);
    form->addRow(m_scan);
    form->addRow(m_quarantine);
    form->addRow(tr("Quarantine folder:"), pathRow);
    form->addRow(new QLabel(tr("Content types to scan, one a line:"), this));
    form->addRow(m_mimeTypes);

    connect(m_scan, &QCheckBox::toggled, this, &CAntiVirusPage::updateEnabling);
    connect(m_quarantine, &QCheckBox::toggled, this, &CAntiVirusPage::updateEnabling);
    connect(m_browse, &QPushButton::clicked, this, &CAntiVirusPage::browseForFolder);
    updateEnabling();
}

void CAntiVirusPage::onInitialise()
{
    CRegistry reg;
    openSettingsKey(reg, kKey);   // when it cannot be opened, every default shows
    const bool scan = settingFlag(reg, Setting::Scan);
    const bool quarantine = settingFlag(reg, Setting::Quarantine);
    std::string path = settingText(reg, Setting::QuarantinePath);
    if (path.empty())
        path = m_defaultPath.toStdString();
    std::vector<std::string> types = settingDefaultList(Setting::MimeTypes);
    querySetting(reg, Setting::MimeTypes, types);
    std::string mimeTypes;
    for (const std::string& type : types)
        mimeTypes += (mimeTypes.empty() ? "" : "\n") + type;
    m_scan->setChecked(scan);
    m_quarantine->setChecked(quarantine);
    m_quarantinePath->setText(QString::fromStdString(path));
    m_mimeTypes->setPlainText(QString::fromStdString(mimeTypes));
    updateEnabling();

    // Only the user's changes count, not the loading above.
    m_modified = false;
    connect(m_scan, &QCheckBox::toggled, this, &CAntiVirusPage::markModified);
    connect(m_quarantine, &QCheckBox::toggled, this, &CAntiVirusPage::markModified);
    connect(m_quarantinePath, &QLineEdit::textChanged, this, &CAntiVirusPage::markModified);
    connect(m_mimeTypes, &QPlainTextEdit::textChanged, this, &CAntiVirusPage::markModified);
}

void CAntiVirusPage::updateEnabling()
{
    const bool scan = m_scan->isChecked();
    m_quarantine->setEnabled(scan);
    m_quarantinePath->setEnabled(scan);
    m_browse->setEnabled(scan && m_quarantine->isChecked());
}

void CAntiVirusPage::browseForFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, "Select Quarantine Directory", m_quarantinePath->text());
    if (!folder.isEmpty())
        m_quarantinePath->setText(folder);
}

bool CAntiVirusPage::onOK()
{
    CRegistry reg;
    if (!openSettingsKey(reg, kKey))
        return true;
    storeFlag(reg, Setting::Scan, m_scan->isChecked());
    storeFlag(reg, Setting::Quarantine, m_quarantine->isChecked());
    storeSetting(reg, Setting::QuarantinePath, m_quarantinePath->text().toStdString());
    reg.SetTextList(settingName(Setting::MimeTypes).c_str(), m_mimeTypes->toPlainText().toStdString().c_str());
    return true;
}
