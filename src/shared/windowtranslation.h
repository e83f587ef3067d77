#pragma once

#include <QStringList>

class QWidget;

// Translates every operator-visible text of a window and its children (captions, hints, menu and
// list items, column titles), remembering each English source so that a later call re-translates
// from English after a language switch. Returns the message ids it looked up.
//
// A widget whose property "vyrNoTranslate" is true is left alone with all its children (texts
// that come from data or settings). Texts without a letter (numbers, "...", "-") are skipped.
QStringList TranslateWindow(QWidget* window);
