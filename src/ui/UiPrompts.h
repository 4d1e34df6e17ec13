#pragma once

#include <QMessageBox>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class QWidget;

// Every modal question, dialog and outside effect of the wizard goes through
// this table. The program keeps the real dialogs; tests replace single entries
// to answer questions without racing a modal event loop.
struct UiPrompts {
    // A question box: returns the button pressed (the default button when the box is closed).
    std::function<QMessageBox::StandardButton(QWidget* parent, const QString& title, const QString& text,
                                              QMessageBox::StandardButtons buttons,
                                              QMessageBox::StandardButton defaultButton)>
        question;
    // A critical error box with one OK button.
    std::function<void(QWidget* parent, const QString& title, const QString& text)> critical;
    // A plain information box with one OK button.
    std::function<void(QWidget* parent, const QString& title, const QString& text)> information;
    // A one-line text query: the edited text on OK, nothing on Cancel.
    std::function<std::optional<QString>(QWidget* parent, const QString& title, const QString& label,
                                         const QString& text)>
        textQuery;
    // A save-file dialog: the chosen path, or an empty text on Cancel.
    std::function<QString(QWidget* parent, const QString& title, const QString& filter)> saveFileName;
    // A folder browser: the chosen folder, or an empty text on Cancel.
    std::function<QString(QWidget* parent, const QString& title, const QString& startFolder)> folder;
    // The exclamation sound of a refused input.
    std::function<void()> beep;
    // Opens a document in the desktop's default application.
    std::function<bool(const QUrl& url)> openUrl;
};

// The table in use; starts with the real dialogs.
UiPrompts& uiPrompts();
// Puts the real dialogs back (tests call it in tear-down).
void resetUiPrompts();
// Routes the project store's messages for the user to a plain message box.
void installStoreMessageBox();
