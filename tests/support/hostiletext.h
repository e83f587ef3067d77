#pragma once

#include <QStringList>

// Texts as an operator might type or paste them, each a way to break or bend a statement, a
// comparison or a LIKE: quotes of both kinds, statement pieces, wildcards, backslashes, the marks
// engines use for values, line breaks, characters beyond the first 64k (fifty emoji, exactly the
// length limit of a card text), right-to-left text and direction overrides, and the empty text.
const QStringList& HostileTexts();
