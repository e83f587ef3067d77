#pragma once

#include <utility>

// Runs a read of the site, and once more when it failed (answered false or nothing). A connection
// that broke while it lay idle, as when the server was restarted, fails its next statement and
// connects anew with the one after: the first read after the server's return would fail for
// nothing, and a list that waits for news before it reads again would stay out of date. A server
// that is really gone fails the second read too, with its own reason.
template <typename TRead> auto ReadAgainOnFailure(TRead&& read) {
    auto result = read();
    if (!result)
        result = read();
    return result;
}
