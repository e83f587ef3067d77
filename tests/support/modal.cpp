#include "modal.h"

#include <QApplication>
#include <QDialog>
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
            try {
                action(modal);
            } catch (const TMissingControl&) {
                // Already a failure; closing the window lets the test that opened it end.
                if (auto* dialog = qobject_cast<QDialog*>(modal))
                    dialog->reject();
                else
                    modal->close();
            }
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

void ControlMissing(const QObject& window, const char* objectName, const char* wantedClass,
                    const QList<QObject*>& named) {
    std::string problem = std::string(window.metaObject()->className()) + " \"" +
                          window.objectName().toStdString() + "\" ";
    if (named.isEmpty())
        problem += "has no control \"" + std::string(objectName) + "\"";
    else if (named.size() > 1)
        problem += "has " + std::to_string(named.size()) + " controls named \"" + objectName + "\"";
    else
        problem += "has \"" + std::string(objectName) + "\" as a " +
                   named.front()->metaObject()->className() + ", not a " + wantedClass;
    ADD_FAILURE() << problem;
    throw TMissingControl(problem);
}
