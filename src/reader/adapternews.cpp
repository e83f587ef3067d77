#include "reader/adapternews.h"

#include "reader/CodeReaderInterface.h"
#include "shared/messagebox.h"
#include "shared/translation.h"

#include <QTimer>

void TellAdapterNews(QWidget* window, TReaderInterface& reader, QTimer* polling) {
    const TAdapterNews news = reader.TakeAdapterNews();
    if (news == TAdapterNews::None)
        return;
    const bool wasPolling = polling && polling->isActive();
    if (wasPolling)
        polling->stop();
    if (news == TAdapterNews::Stopped)
        MessageBoxes::ShowWarning(window, _("The adapter stopped answering. Cards are read "
                                            "again as soon as it answers."));
    else
        MessageBoxes::ShowInformation(window, _("The adapter answers again."));
    if (wasPolling)
        polling->start();
}
