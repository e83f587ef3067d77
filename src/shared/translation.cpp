#include "shared/translation.h"

#include <QByteArray>
#include <QRegularExpression>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <libintl.h>

extern "C" int _nl_msg_cat_cntr; // glibc: bumping it drops gettext's cache of looked-up texts

namespace {
constexpr const char* TextDomain = "default";
QString g_localeDirectory;
QString g_language = "en";
} // namespace

void InitTranslation(const QString& localeDirectory) {
    g_localeDirectory = localeDirectory;
    // glibc ignores LANGUAGE while the message locale is "C"; C.UTF-8 keeps English texts while
    // letting LANGUAGE choose the catalogue.
    const char* current = std::setlocale(LC_MESSAGES, "");
    if (!current || std::strcmp(current, "C") == 0 || std::strcmp(current, "POSIX") == 0)
        std::setlocale(LC_MESSAGES, "C.UTF-8");
    bindtextdomain(TextDomain, localeDirectory.toLocal8Bit().constData());
    bind_textdomain_codeset(TextDomain, "UTF-8");
    textdomain(TextDomain);
}

void UseLanguage(const QString& languageCode) {
    g_language = languageCode;
    // An empty LANGUAGE would fall back to the user's LANG; "en" has no catalogue and so shows
    // the message ids, which are English.
    const QByteArray value = languageCode.isEmpty() ? QByteArray("en") : languageCode.toUtf8();
    setenv("LANGUAGE", value.constData(), 1);
    ++_nl_msg_cat_cntr;
}

QString CurrentLanguage() {
    return g_language;
}

QString LocaleDirectory() {
    return g_localeDirectory;
}

QString Translate(const char* msgid) {
    if (!msgid || !*msgid)
        return QString();
    return QString::fromUtf8(dgettext(TextDomain, msgid));
}

QString Translate(const QString& msgid) {
    if (msgid.isEmpty())
        return msgid;
    const QByteArray id = msgid.toUtf8();
    return QString::fromUtf8(dgettext(TextDomain, id.constData()));
}

QString TranslatePlural(const char* singular, const char* plural, unsigned long n) {
    return QString::fromUtf8(dngettext(TextDomain, singular, plural, n));
}

QString FormatText(QString text, const QStringList& values) {
    static const QRegularExpression placeholder("%[sd]");
    qsizetype from = 0;
    for (const QString& value : values) {
        const QRegularExpressionMatch match = placeholder.match(text, from);
        if (!match.hasMatch())
            break;
        text.replace(match.capturedStart(), match.capturedLength(), value);
        from = match.capturedStart() + value.size();
    }
    return text;
}
