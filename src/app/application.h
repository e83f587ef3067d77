#pragma once

#include <QApplication>

// The application's general error report: an exception escaping any event handler is shown in an
// error box titled "VYR Standalone", and the program goes on.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
