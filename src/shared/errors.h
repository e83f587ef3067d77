#pragma once

#include <QString>
#include <stdexcept>

// The one exception type the program raises for an operator-visible failure. Whatever handler it
// escapes from, the application's error report shows its text and the program goes on.
class VyrError : public std::runtime_error {
public:
    explicit VyrError(const QString& message)
        : std::runtime_error(message.toStdString()), FMessage(message) {}
    const QString& Message() const { return FMessage; }

private:
    QString FMessage;
};

// The text an operator is shown for any error: our own message, or the library's.
inline QString ErrorText(const std::exception& error) {
    if (const auto* own = dynamic_cast<const VyrError*>(&error))
        return own->Message();
    return QString::fromLocal8Bit(error.what());
}
