#include "ui/UiPrompts.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>

#include "model/UserMessage.h"

namespace {

UiPrompts realPrompts() {
    UiPrompts prompts;
    prompts.question = [](QWidget* parent, const QString& title, const QString& text,
                          QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
        QMessageBox box(QMessageBox::Question, title, text, buttons, parent);
        box.setDefaultButton(defaultButton);
        // Escape and the title bar's close button count as the safe answer.
        box.setEscapeButton(defaultButton);
        return QMessageBox::StandardButton(box.exec());
    };
    prompts.critical = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::critical(parent, title, text);
    };
    prompts.information = [](QWidget* parent, const QString& title, const QString& text) {
        QMessageBox::information(parent, title, text);
    };
    prompts.textQuery = [](QWidget* parent, const QString& title, const QString& label,
                           const QString& text) -> std::optional<QString> {
        bool ok = false;
        const QString result = QInputDialog::getText(parent, title, label, QLineEdit::Normal, text, &ok);
        if (!ok)
            return std::nullopt;
        return result;
    };
    prompts.saveFileName = [](QWidget* parent, const QString& title, const QString& filter) {
        QFileDialog dialog(parent, title, QString(), filter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // Replacing an existing log is what the user asked for; no second question.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
            return QString();
        return dialog.selectedFiles().constFirst();
    };
    prompts.folder = [](QWidget* parent, const QString& title, const QString& startFolder) {
        return QFileDialog::getExistingDirectory(parent, title, startFolder);
    };
    prompts.beep = [] { QApplication::beep(); };
    prompts.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    return prompts;
}

} // namespace

UiPrompts& uiPrompts() {
    static UiPrompts prompts = realPrompts();
    return prompts;
}

void resetUiPrompts() {
    uiPrompts() = realPrompts();
}

void installStoreMessageBox() {
    setUserMessageHandler([](const QString& message) {
        uiPrompts().information(QApplication::activeWindow(), QApplication::applicationName(), message);
    });
}
