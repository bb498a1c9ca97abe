#pragma once

#include "tables/error.h"
#include "widgets/dialogs.h"

#include <QObject>

#include <exception>
#include <utility>

// Runs a handler; an error raised inside it ends the handler and is shown in the standard error box.
// What the handler did before the error stays done and the program goes on.
template <typename F>
bool guard(F&& handler)
{
    try {
        std::forward<F>(handler)();
        return true;
    } catch (const AppError& e) {
        dialogs::error(e.message());
    } catch (const std::exception& e) {
        dialogs::error(QString::fromLocal8Bit(e.what()));
    }
    return false;
}

// Connects a signal to a handler method of `receiver` through the guard. The signal's arguments are
// not passed on: handlers read what they need from their controls.
template <typename Sender, typename Signal, typename Receiver, typename Handler>
QMetaObject::Connection connectHandler(Sender* sender, Signal signal, Receiver* receiver, Handler handler)
{
    return QObject::connect(sender, signal, receiver, [receiver, handler] { guard([&] { (receiver->*handler)(); }); });
}
