#pragma once

#include <QWidget>

#include <functional>

#include <gtest/gtest.h>

// Runs `action` on the next modal window that opens (polled from the event loop), so a test can
// drive a dialog that the code under test opens with exec().
void WhenModal(std::function<void(QWidget* modal)> action, int timeoutMs = 10000);

// Finds a child by objectName and type; fails the current test when it is missing.
template <typename T> T* Child(QWidget* parent, const char* name) {
    T* child = parent ? parent->findChild<T*>(QString::fromLatin1(name)) : nullptr;
    if (!child)
        ADD_FAILURE() << "no child " << name;
    return child;
}
