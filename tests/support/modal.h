#pragma once

#include <QWidget>

#include <functional>
#include <stdexcept>

#include <gtest/gtest.h>

// Runs `action` on the next modal window that opens (polled from the event loop), so a test can
// drive a dialog that the code under test opens with exec().
void WhenModal(std::function<void(QWidget* modal)> action, int timeoutMs = 10000);

// Thrown once a missing control is recorded as a failure: a test step cannot go on without it.
struct TMissingControl : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void ControlMissing(const QObject& window, const char* objectName,
                                 const char* wantedClass, const QList<QObject*>& named);

// The one control (widget, action, menu) inside `window` with this objectName. A control that is
// missing, of another class or not the only one of its name fails the current test and throws
// TMissingControl, which ends the test body (or the event handler that asked for it).
template <typename T> T& Control(const QObject& window, const char* objectName) {
    const QList<QObject*> named = window.findChildren<QObject*>(QString::fromLatin1(objectName));
    T* control = named.size() == 1 ? qobject_cast<T*>(named.front()) : nullptr;
    if (!control)
        ControlMissing(window, objectName, T::staticMetaObject.className(), named);
    return *control;
}
