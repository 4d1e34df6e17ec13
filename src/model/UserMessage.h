#pragma once

#include <QString>

#include <functional>

// Messages that the storage layer shows the user without failing (an unknown
// value type in a file). The store knows nothing of widgets: the user interface
// installs a handler that shows a message box; until then they go to standard
// error.
using UserMessageHandler = std::function<void(const QString& message)>;

// Installs handler and returns the one it replaces; an empty handler restores
// the default (standard error).
UserMessageHandler setUserMessageHandler(UserMessageHandler handler);

// Passes message to the installed handler.
void showUserMessage(const QString& message);
