// CAntiVirusPage: the "Anti-Virus" page, key "/antivirus" of the proxy's
// settings hive as the virus scanner reads it: Scan, Quarantine,
// QuarantinePath and MimeTypes (a text list, one type a line).
//
// The default quarantine folder is the scanner's own: "state" under the
// program's data root (the shared one in shared mode); it is created when
// the page is built.  The quarantine controls are enabled only with Scan,
// the folder browser only with Scan and Quarantine; any change marks the
// page modified.
#pragma once

#include "ui/CCSPropertyPage.h"

class QCheckBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

class CAntiVirusPage : public CCSPropertyPage
{
    Q_OBJECT
public:
    explicit CAntiVirusPage(QWidget* parent = nullptr);

    bool onOK() override;

    // The default quarantine folder, empty while no data root is chosen.
    static QString defaultQuarantinePath();

    bool isModified() const { return m_modified; }

    QCheckBox* scan() const { return m_scan; }
    QCheckBox* quarantine() const { return m_quarantine; }
    QLineEdit* quarantinePath() const { return m_quarantinePath; }
    QPushButton* browse() const { return m_browse; }
    QPlainTextEdit* mimeTypes() const { return m_mimeTypes; }

protected:
    void onInitialise() override;

private:
    void updateEnabling();
    void browseForFolder();
    void markModified() { m_modified = true; }

    QCheckBox* m_scan;
    QCheckBox* m_quarantine;
    QLineEdit* m_quarantinePath;
    QPushButton* m_browse;
    QPlainTextEdit* m_mimeTypes;
    QString m_defaultPath;
    bool m_modified = false;
};
