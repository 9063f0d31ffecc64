#include "ui/CCSPropertySheet.h"

#include "common/CRegistry.h"
#include "common/CVEvent.h"
#include "common/SettingValues.h"
#include "ui/CCSPropertyPage.h"
#include "ui/SettingsKey.h"
#include "ui/WindowRect.h"

#include <QAbstractItemView>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

const char* const CCSPropertySheet::kExitEventName = "Quillfence-{5E0C41A7-93D2-4B6E-8F17-2C9A6D04B3E8}-Exit";

CCSPropertySheet::CCSPropertySheet(const QString& caption, QWidget* parent)
    : QDialog(parent),
      m_tabs(new QTabWidget(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this)),
      m_exitTimer(new QTimer(this))
{
    setWindowTitle(caption);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &CCSPropertySheet::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &CCSPropertySheet::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    layout->addWidget(m_buttons);

    connect(m_tabs, &QTabWidget::currentChanged, this, [this](int index) {
        if (CCSPropertyPage* shown = page(index))
            shown->ensureInitialised();
    });
    connect(m_exitTimer, &QTimer::timeout, this, &CCSPropertySheet::checkExitEvent);
}

void CCSPropertySheet::addPage(CCSPropertyPage* page, const QString& tab)
{
    m_tabs->addTab(page, tab);
    if (m_tabs->count() == 1)
        page->ensureInitialised();
}

void CCSPropertySheet::addMenuButton(const QString& text, QMenu* menu)
{
    if (m_menuButton == nullptr) {
        m_menuButton = m_buttons->addButton(text, QDialogButtonBox::ActionRole);
        m_menuButton->setAutoDefault(false);
    }
    m_menuButton->setText(text);
    m_menuButton->setMenu(menu);
}

CCSPropertyPage* CCSPropertySheet::page(int index) const
{
    return qobject_cast<CCSPropertyPage*>(m_tabs->widget(index));
}

int CCSPropertySheet::pageCount() const
{
    return m_tabs->count();
}

void CCSPropertySheet::accept()
{
    for (int index = 0; index < pageCount(); ++index) {
        CCSPropertyPage* shown = page(index);
        if (shown && shown->isInitialised() && !shown->onOK()) {
            m_tabs->setCurrentIndex(index);
            return;
        }
    }
    QDialog::accept();
}

void CCSPropertySheet::checkExitEvent()
{
    // Opened for a look only: no part of the program creates this event.
    std::unique_ptr<CVEvent> exit = CVEvent::open(kExitEventName, CVEvent::Reset::Manual);
    if (exit && exit->test()) {
        m_exitTimer->stop();
        done(0);
    }
}

void CCSPropertySheet::keyPressEvent(QKeyEvent* event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    for (QWidget* focus = focusWidget(); enter && focus && focus != this; focus = focus->parentWidget()) {
        if (qobject_cast<QAbstractItemView*>(focus)) {
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void CCSPropertySheet::setVisible(bool visible)
{
    if (visible && !isVisible())
        placeForShowing();
    QDialog::setVisible(visible);
}

void CCSPropertySheet::placeForShowing()
{
    CRegistry reg;
    openSettingsKey(reg);
    move(settingNumber(reg, Setting::MainPosX), settingNumber(reg, Setting::MainPosY));
    if (!m_sized) {
        // The first size shows every tab and what the pages want to show
        // whole, unless the screen is too small for it.
        m_sized = true;
        ensurePolished();
        const QScreen* shown = screen();
        m_tabs->setUsesScrollButtons(false);
        if (shown && sizeHint().width() > shown->availableGeometry().width())
            m_tabs->setUsesScrollButtons(true);
        resize(sizeHint().expandedTo(size()));
        fitToScreenWhenShown(*this);
    }
}

void CCSPropertySheet::showEvent(QShowEvent* event)
{
    m_exitTimer->start(kExitCheckMs);
    QDialog::showEvent(event);
}

void CCSPropertySheet::hideEvent(QHideEvent* event)
{
    CRegistry reg;
    if (openSettingsKey(reg)) {
        storeSetting(reg, Setting::MainPosX, pos().x());
        storeSetting(reg, Setting::MainPosY, pos().y());
    }
    m_exitTimer->stop();
    QDialog::hideEvent(event);
}
