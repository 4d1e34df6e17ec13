#pragma once

#include <QString>

#include <functional>
#include <utility>

// The application's title, used for the caption of error boxes.
QString applicationTitle();

// The message with a full stop appended when it does not end in one.
QString withFullStop(const QString& message);

// The one place where an error that leaves a user-interface event handler is
// caught: the message is shown in a critical box with the application's title
// and the action under way stops where the error was raised. Returns true when
// the action completed without an error.
bool runGuarded(const std::function<void()>& action);

// Wraps a handler for a signal connection so that it runs under runGuarded.
template <typename Handler> auto guarded(Handler handler) {
    return [handler = std::move(handler)]() { runGuarded(handler); };
}
