#pragma once

#include <QString>
#include <exception>

// An error raised inside a handler. The handler guard shows its message in the standard error box.
class AppError : public std::exception
{
public:
    explicit AppError(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    const QString& message() const noexcept { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

// Errors of the table engine, with the engine's own messages.
class EngineError : public AppError
{
public:
    using AppError::AppError;
};

// File system errors (delete, create, write).
class IoError : public AppError
{
public:
    using AppError::AppError;
};
