#include "hostiletext.h"

namespace {

QString FiftyEmoji() {
    QString text;
    for (char32_t emoji = U'\U0001F600'; emoji < U'\U0001F600' + 50; ++emoji)
        text += QString::fromUcs4(&emoji, 1);
    return text;
}

} // namespace

const QStringList& HostileTexts() {
    static const QStringList texts = {
        "O'Brien",
        "say \"hi\"",
        "\"",
        "\"\"",
        "'",
        "\"); DELETE * FROM CardHolders WHERE (\"\" = \"",
        "'); DROP TABLE CardHolders; --",
        "50% off",
        "a_b",
        "%",
        "_",
        "back\\slash",
        "\\",
        "\\%\\_",
        "semi;colon",
        "-- dash /* star */",
        "NOW() @@Identity DELETE * FROM",
        "who? ?1 :name $1 @v",
        "?",
        "line\nbreak",
        "carriage\r\nreturn",
        "\ttab\v\f",
        "Émile Zoë",
        "e\u0301 combined",
        "東京",
        "emoji 😀",
        FiftyEmoji(),
        "שלום עולם",
        "مرحبا بالعالم 123",
        "abc \u202Eevil\u202C def",
        "\u200F\u200Emarks",
        "  padded  ",
        "",
    };
    return texts;
}
