#pragma once

#include <QString>
#include <QUrl>

#include <functional>

// The user's manual, opened in the desktop's default viewer.
namespace help {

inline const QString manualFile = QStringLiteral("quintara_help.html");

// Hands the URL to the desktop (or to the opener set for tests) and returns at once; a failure is
// not reported.
void open(const QUrl& url);

// Tests record the URL instead of launching a viewer; an empty function restores the desktop's.
using UrlOpener = std::function<void(const QUrl&)>;
void setUrlOpener(UrlOpener opener);

} // namespace help
