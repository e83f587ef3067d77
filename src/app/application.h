#pragma once

#include <QApplication>

// The application's general error report: an exception escaping any event handler is shown in an
// error box titled "VYR Standalone", and the program goes on.
//
// Our handlers that can fail catch at their own boundary (MessageBoxes::ReportErrors), because
// Qt's event delivery is not exception-safe: an exception that unwinds through it skips Qt's
// clean-up for that event (its data leaks, and a widget can be left mid-way). The catch in
// notify stays as the last net, so a handler that forgot keeps the program alive and the operator
// informed; nothing of ours relies on it.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};
