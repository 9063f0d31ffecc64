// Answers the next modal window (a message box or dialog) that a widget
// opens under test: a timer polls for the active modal widget, hands it to
// the answer, and records a message box's caption and text.  Seen stays
// empty when no modal window came.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class ModalDriver
{
public:
    struct Seen {
        QString caption;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        bool came = false;
    };

    // Presses button on the next message box.
    static std::shared_ptr<Seen> pressOnNextBox(QMessageBox::StandardButton button)
    {
        return onNextModal([button](QWidget* modal) {
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                if (QAbstractButton* pressed = box->button(button))
                    pressed->click();
                else
                    box->reject();
            } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
                dialog->reject();
            }
        });
    }

    // Hands the next modal widget to answer, which must close it.
    static std::shared_ptr<Seen> onNextModal(std::function<void(QWidget*)> answer)
    {
        auto seen = std::make_shared<Seen>();
        auto* timer = new QTimer(qApp);
        timer->setInterval(10);
        QObject::connect(timer, &QTimer::timeout, [timer, seen, answer]() {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr)
                return;
            timer->stop();
            timer->deleteLater();
            seen->came = true;
            seen->caption = modal->windowTitle();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen->text = box->text();
                seen->icon = box->icon();
            }
            answer(modal);
        });
        timer->start();
        return seen;
    }
};
