#include "ui/CActionPageV2.h"

#include "common/CRegistry.h"
#include "common/ProgramContext.h"
#include "common/SettingValues.h"
#include "filter/Archive.h"
#include "filter/FilterSettings.h"
#include "ui/MessageBoxes.h"
#include "ui/SettingsKey.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include <sys/stat.h>
#include <unistd.h>

CActionPageV2::CActionPageV2(int band, double lower, double upper, QWidget* parent)
    : QDialog(parent),
      m_band(band),
      m_allowThrough(new QCheckBox(tr("Let the message through to the mail program"), this)),
      m_subject(new QCheckBox(tr("Mark the subject"), this)),
      m_subjectMacro(new QLineEdit(this)),
      m_archive(new QCheckBox(tr("Archive the message"), this)),
      m_archivePath(new QLineEdit(this)),
      m_browse(new QPushButton(tr("Browse..."), this)),
      m_collectionEmail(new QCheckBox(tr("List the message in the collection report"), this))
{
    setWindowTitle(QString::asprintf("Actions - Rating %.1f to %.1f", lower, upper));

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_archivePath);
    pathRow->addWidget(m_browse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* form = new QFormLayout(this);
    form->addRow(m_allowThrough);
    form->addRow(m_subject);
    form->addRow(tr("Subject:"), m_subjectMacro);
    form->addRow(m_collectionEmail);
    form->addRow(m_archive);
    form->addRow(tr("Archive folder:"), pathRow);
    form->addRow(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &CActionPageV2::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CActionPageV2::reject);
    connect(m_browse, &QPushButton::clicked, this, &CActionPageV2::browseForFolder);
    for (QCheckBox* box : {m_allowThrough, m_subject, m_archive})
        connect(box, &QCheckBox::toggled, this, &CActionPageV2::updateEnabling);

    load();
}

void CActionPageV2::load()
{
    CRegistry reg;
    openSettingsKey(reg);   // when it cannot be opened, every default shows
    bool allowThrough = settingFlag(reg, Setting::AllowThrough, m_band);
    const bool subject = settingFlag(reg, Setting::Subject, m_band);
    const std::string subjectMacro = settingText(reg, Setting::SubjectMacro, m_band);
    const bool archive = settingFlag(reg, Setting::Archive, m_band);
    std::string archivePath = settingText(reg, Setting::ArchivePath, m_band);
    if (archivePath.empty())
        archivePath = programContext().dataRoot + "/archive/rating" + std::to_string(m_band) + "/";
    const bool collectionEmail = settingFlag(reg, Setting::CollectionEmail, m_band);
    if (m_band == 1) {
        allowThrough = true;
        m_allowThrough->setEnabled(false);
    }
    m_allowThrough->setChecked(allowThrough);
    m_subject->setChecked(subject);
    m_subjectMacro->setText(QString::fromStdString(subjectMacro));
    m_archive->setChecked(archive);
    m_archivePath->setText(QString::fromStdString(archivePath));
    m_collectionEmail->setChecked(collectionEmail);
    updateEnabling();
}

void CActionPageV2::updateEnabling()
{
    const bool allow = m_allowThrough->isChecked();
    m_archivePath->setEnabled(m_archive->isChecked());
    m_browse->setEnabled(m_archive->isChecked());
    m_subjectMacro->setEnabled(allow && m_subject->isChecked());
    m_collectionEmail->setEnabled(allow);
}

void CActionPageV2::browseForFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, "Select Archive Directory", m_archivePath->text());
    if (!folder.isEmpty())
        m_archivePath->setText(folder);
}

bool CActionPageV2::canEnterFolder(const QString& path)
{
    const QByteArray local = path.toLocal8Bit();
    struct stat info {};
    return !local.isEmpty() && ::stat(local.constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::access(local.constData(), X_OK) == 0;
}

void CActionPageV2::accept()
{
    if (!canEnterFolder(m_archivePath->text())) {
        showMessageBox(this, QMessageBox::Warning, "Error",
                       "Cannot access archive directory,\ninvalid path or permissions issue.");
        m_archivePath->setFocus();
        return;
    }
    CRegistry reg;
    if (openSettingsKey(reg)) {
        const bool allowThrough = m_band == 1 || m_allowThrough->isChecked();
        storeFlag(reg, Setting::Archive, m_archive->isChecked(), m_band);
        storeSetting(reg, Setting::ArchivePath, m_archivePath->text().toStdString(), m_band);
        storeFlag(reg, Setting::Subject, m_subject->isChecked(), m_band);
        storeSetting(reg, Setting::SubjectMacro, m_subjectMacro->text().toStdString(), m_band);
        storeFlag(reg, Setting::CollectionEmail, m_collectionEmail->isChecked(), m_band);
        storeFlag(reg, Setting::AllowThrough, allowThrough, m_band);
        reg.CloseKey();
        registerArchiveLocation(m_band);
    }
    QDialog::accept();
}
