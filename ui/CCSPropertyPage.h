// CCSPropertyPage: one page of the settings window.
//
// A page reads its settings the first time it is shown (onInitialise) and
// writes them when the window is closed with OK (onOK), so a page never
// shown writes nothing.  onOK returns false when the page cannot accept its
// values; the window then stays open.
#pragma once

#include <QWidget>

class CCSPropertyPage : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

    // Loads the page once; later calls do nothing.
    void ensureInitialised()
    {
        if (m_initialised)
            return;
        m_initialised = true;
        onInitialise();
    }
    bool isInitialised() const { return m_initialised; }

    virtual bool onOK() = 0;

protected:
    virtual void onInitialise() = 0;

private:
    bool m_initialised = false;
};
