#pragma once
// The program's error type: an error carries the text that the standard error box shows.
// Subsystems derive their own kinds (EDatabaseError, ERpError, EIniFileException) so that a
// caller can tell them apart, but every handler may catch Exception and show message().
#include <QString>
#include <exception>

class Exception : public std::exception {
public:
    explicit Exception(QString message) : message_(std::move(message)), utf8_(message_.toUtf8()) {}
    const QString& message() const noexcept { return message_; }
    const char* what() const noexcept override { return utf8_.constData(); }

private:
    QString message_;
    QByteArray utf8_;
};
