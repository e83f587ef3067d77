#pragma once

#include "reader/sessionrecovery.h"

class QWidget;
class TCardPollerLink;
struct TRunSettings;

// Gives a window that reads the adapter its card poller: the configured reader is made (on the
// window thread only what needs no adapter) and handed to a TCardPollerLink, a child of the
// window named "CardPoller", whose adapter news and reader errors are shown over the window (an
// error ends the polling for good). Starting to poll is left to the window. When the reader
// cannot be made ("No valid reader", "Unable not load TMEX library") the error is shown and there
// is no poller: typed numbers still work.
TCardPollerLink* OpenCardPoller(QWidget* window, const TRunSettings& settings);

// Tells the operator the card poller's news about its adapter (stopped answering, answers again),
// when there is any. The poller does not look again until the box is closed.
void TellAdapterNews(QWidget* window, TAdapterNews news);
