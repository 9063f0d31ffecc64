// CGeneralPage: the "Settings" page, general settings at key "/" of the
// proxy's settings hive.
//
// Every value is written in the integer form, the check boxes as 0 or 1.
// Defaults and ranges are the settings table's: a value typed beyond its
// range is stored as the nearest bound.  OK also applies the logging
// choice to this process's event log, and says when the listening port
// changed that the change needs a restart.
#pragma once

#include "ui/CCSPropertyPage.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

class CGeneralPage : public CCSPropertyPage
{
    Q_OBJECT
public:
    explicit CGeneralPage(QWidget* parent = nullptr);

    bool onOK() override;

    QCheckBox* tidy() const { return m_tidy; }
    QSpinBox* tidyDays() const { return m_tidyDays; }
    QSpinBox* maxSpamSize() const { return m_maxSpamSize; }
    QComboBox* logging() const { return m_logging; }
    QCheckBox* tidyLogs() const { return m_tidyLogs; }
    QSpinBox* tidyLogDays() const { return m_tidyLogDays; }
    QCheckBox* popupStatus() const { return m_popupStatus; }
    QComboBox* separatorChar() const { return m_separatorChar; }
    QCheckBox* collectionReport() const { return m_collectionReport; }
    QSpinBox* listenPort() const { return m_listenPort; }
    QSpinBox* maxCollectionTime() const { return m_maxCollectionTime; }

protected:
    void onInitialise() override;

private:
    void selectSeparator(unsigned code);

    QCheckBox* m_tidy;
    QSpinBox* m_tidyDays;
    QSpinBox* m_maxSpamSize;
    QComboBox* m_logging;
    QCheckBox* m_tidyLogs;
    QSpinBox* m_tidyLogDays;
    QCheckBox* m_popupStatus;
    QComboBox* m_separatorChar;
    QCheckBox* m_collectionReport;
    QSpinBox* m_listenPort;
    QSpinBox* m_maxCollectionTime;
    int m_loadedPort = 0;
};
