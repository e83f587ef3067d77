#pragma once

#include <QString>
#include <QStringList>

// The program's one translation layer: GNU gettext (glibc's libintl), text domain "default",
// catalogues in "locale" beside the executable. The English text is the message id.

// Binds the text domain to the catalogue folder; call once before anything is translated.
void InitTranslation(const QString& localeDirectory);
// Makes `languageCode` ("en", "nl", anything else passes through unchanged) the language of every
// text looked up from now on.
void UseLanguage(const QString& languageCode);
QString CurrentLanguage();
QString LocaleDirectory();

QString Translate(const char* msgid);
QString Translate(const QString& msgid);
// A text with a count: `singular` and `plural` are the English message ids, `n` is the count that
// picks the form (a language may have other rules than English, or more than two forms). The
// count still has to be filled in.
QString TranslatePlural(const char* singular, const char* plural, unsigned long n);

// Fills the printf-style %s / %d placeholders of a (translated) text in order.
QString FormatText(QString text, const QStringList& values);

// `_()` looks a text up when it is used; `N_()` only marks a text for the catalogue (window
// texts, which the window translator looks up when the window is created).
#define _(msgid) Translate(msgid)
#define N_(msgid) msgid
