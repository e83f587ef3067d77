#include "reader/adapternews.h"

#include "reader/CodeReaderInterface.h"
#include "reader/cardpoller.h"
#include "shared/errors.h"
#include "shared/messagebox.h"
#include "shared/translation.h"

#include <QWidget>

#include <exception>

TCardPollerLink* OpenCardPoller(QWidget* window, const TRunSettings& settings) {
    std::unique_ptr<TReaderInterface> reader;
    try {
        reader = CreateConfiguredReader(settings, TSessionStart::Later);
    } catch (const std::exception& error) {
        MessageBoxes::ShowError(window, ErrorText(error));
        return nullptr;
    }
    auto* poller = new TCardPollerLink(std::move(reader), window);
    poller->setObjectName("CardPoller");
    QObject::connect(poller, &TCardPollerLink::AdapterNews, window,
                     [window](TAdapterNews news) { TellAdapterNews(window, news); });
    // One box, not one every tenth of a second: the poller does not look again for this window.
    QObject::connect(
        poller, &TCardPollerLink::ReaderFailed, window,
        [window](const QString& message) { MessageBoxes::ShowError(window, message); });
    return poller;
}

void TellAdapterNews(QWidget* window, TAdapterNews news) {
    if (news == TAdapterNews::Stopped)
        MessageBoxes::ShowWarning(window, _("The adapter stopped answering. Cards are read "
                                            "again as soon as it answers."));
    else if (news == TAdapterNews::Back)
        MessageBoxes::ShowInformation(window, _("The adapter answers again."));
}
