#include "ui/ErrorHandler.h"

#include <exception>

#include <QApplication>

#include "model/Errors.h"
#include "ui/UiPrompts.h"

QString applicationTitle() {
    return QStringLiteral("Vellisync");
}

QString withFullStop(const QString& message) {
    if (message.endsWith(QLatin1Char('.')))
        return message;
    return message + QLatin1Char('.');
}

namespace {

void showUnhandledError(const QString& message) {
    uiPrompts().critical(QApplication::activeWindow(), applicationTitle(), withFullStop(message));
}

} // namespace

bool runGuarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (const VellisyncError& error) {
        showUnhandledError(error.message());
    } catch (const std::exception& error) {
        showUnhandledError(QString::fromLocal8Bit(error.what()));
    }
    return false;
}
