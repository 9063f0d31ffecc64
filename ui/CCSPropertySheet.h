// CCSPropertySheet: the tabbed settings window.
//
// Pages are added in tab order; each is initialised when its tab is first
// shown.  OK runs onOK of every initialised page in tab order (stopping, and
// staying open, at a page that refuses) and accepts; Cancel writes nothing.
// While open, a 250 ms timer looks for the named exit event of the settings
// window: when it exists and is set, the window ends as if cancelled.  The
// window restores its top-left corner from MainPosX/MainPosY when shown and
// stores it when hidden.  Its first size shows every tab and each page's
// size hint (the Rules page's longest name), within the screen's area.
#pragma once

#include <QDialog>

class CCSPropertyPage;
class QDialogButtonBox;
class QMenu;
class QPushButton;
class QTabWidget;
class QTimer;

class CCSPropertySheet : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kExitCheckMs = 250;
    // The event other programs may set to close the settings window.
    static const char* const kExitEventName;

    explicit CCSPropertySheet(const QString& caption, QWidget* parent = nullptr);

    void addPage(CCSPropertyPage* page, const QString& tab);
    // A button beside OK and Cancel that opens menu (which stays the
    // caller's).
    void addMenuButton(const QString& text, QMenu* menu);
    QPushButton* menuButton() const { return m_menuButton; }
    QTabWidget* tabs() const { return m_tabs; }
    CCSPropertyPage* page(int index) const;
    int pageCount() const;

    // Showing restores the stored position (and sizes the window the first
    // time) before the window system has the window: moved once it is
    // shown, a window on X11 is placed by its inside, not its frame, and
    // would creep up by its title bar at every opening.
    void setVisible(bool visible) override;

public slots:
    void accept() override;

protected:
    // Enter on a list row opens the row (the list's own handling): it is
    // not also taken for OK, as a dialog takes an Enter its focus ignores.
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void checkExitEvent();
    void placeForShowing();

    QTabWidget* m_tabs;
    QDialogButtonBox* m_buttons;
    QPushButton* m_menuButton = nullptr;
    bool m_sized = false;   // the first show has sized the window
    QTimer* m_exitTimer;
};
