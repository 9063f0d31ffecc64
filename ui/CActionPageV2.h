// CActionPageV2: the actions of one rating band (1 to 5), a modal dialog
// opened from the "Rating" page, reading and writing key "/" of the
// proxy's settings hive.
//
// Band 1 always lets mail through: its AllowThrough is stored as true
// whatever is shown.  OK is refused (message, focus on the folder field,
// dialog stays open) while the archive folder cannot be entered; otherwise
// it stores the band's six values and registers the folder with the
// message viewer as "Rating Band <n>".
#pragma once

#include <QDialog>

class QCheckBox;
class QLineEdit;
class QPushButton;

class CActionPageV2 : public QDialog
{
    Q_OBJECT
public:
    // lower, upper: the band's thresholds in points, for the caption.
    CActionPageV2(int band, double lower, double upper, QWidget* parent = nullptr);

    int band() const { return m_band; }

    QCheckBox* allowThrough() const { return m_allowThrough; }
    QCheckBox* subject() const { return m_subject; }
    QLineEdit* subjectMacro() const { return m_subjectMacro; }
    QCheckBox* archive() const { return m_archive; }
    QLineEdit* archivePath() const { return m_archivePath; }
    QPushButton* browse() const { return m_browse; }
    QCheckBox* collectionEmail() const { return m_collectionEmail; }

    // Whether path is a folder this process may enter (search permission),
    // found without changing the working folder.
    static bool canEnterFolder(const QString& path);

public slots:
    void accept() override;

private:
    void load();
    void updateEnabling();
    void browseForFolder();

    int m_band;
    QCheckBox* m_allowThrough;
    QCheckBox* m_subject;
    QLineEdit* m_subjectMacro;
    QCheckBox* m_archive;
    QLineEdit* m_archivePath;
    QPushButton* m_browse;
    QCheckBox* m_collectionEmail;
};
