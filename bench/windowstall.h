#pragma once

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>

// The longest time between two shots of a 1 ms timer on the window thread while `work` runs there
// and then the event loop for `ms` milliseconds: how long an operator would have seen the window
// freeze. Every benchmark about the window thread measures it this way, so their figures compare.
inline double LongestWindowStallMs(int ms, const std::function<void()>& work = {}) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    qint64 longest = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
    });
    probe.start();
    QEventLoop loop;
    if (work)
        QTimer::singleShot(0, &loop, work);
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    longest = std::max(longest, clock.nsecsElapsed() - last);
    return longest / 1e6;
}
