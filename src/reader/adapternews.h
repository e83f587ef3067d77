#pragma once

class QTimer;
class QWidget;
class TReaderInterface;

// Tells the operator the reader's news about its adapter (stopped answering, answers again), when
// there is any. The window's polling timer rests while the box is up, so no tick reads behind it.
void TellAdapterNews(QWidget* window, TReaderInterface& reader, QTimer* polling);
