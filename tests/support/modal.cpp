#include "modal.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <memory>

void WhenModal(std::function<void(QWidget*)> action, int timeoutMs) {
    auto timer = new QTimer;
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    // A guarded pointer: a dialog that closed and a new one built at its address are not the same.
    QPointer<QWidget> before = QApplication::activeModalWidget();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, before, action, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal != before) {
            timer->stop();
            timer->deleteLater();
            action(modal);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal window opened; active: "
                          << (QApplication::activeModalWidget()
                                  ? QApplication::activeModalWidget()->objectName().toStdString()
                                  : std::string("none"));
        }
    });
    timer->start();
}
