#include "model/UserMessage.h"

#include <cstdio>
#include <utility>

namespace {

// Function-local, so a message shown during static initialisation still finds it.
UserMessageHandler& installedHandler() {
    static UserMessageHandler handler;
    return handler;
}

void writeToStandardError(const QString& message) {
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

} // namespace

UserMessageHandler setUserMessageHandler(UserMessageHandler handler) {
    return std::exchange(installedHandler(), std::move(handler));
}

void showUserMessage(const QString& message) {
    if (const UserMessageHandler& handler = installedHandler()) {
        handler(message);
    } else {
        writeToStandardError(message);
    }
}
