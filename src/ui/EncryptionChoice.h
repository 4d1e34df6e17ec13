#pragma once

// The FTP Server page's choice of TLS, kept apart from the page's other
// controls: a combo box named "cbEncryption" with the four Encryption
// settings of a project.

class QBoxLayout;
class QComboBox;
class QSpinBox;
class QWidget;
class TVellisyncProject;

// Adds the label and the combo box to layout. Choosing implicit TLS while
// the port is the usual 21 moves it to 990, and back when implicit TLS is
// left again; a port the user typed stays.
QComboBox* addEncryptionChoice(QBoxLayout& layout, QWidget* page, QSpinBox& port);
// Shows the project's setting; an unknown stored number shows no choice.
void showEncryption(QComboBox& choice, const TVellisyncProject& project);
// Stores the choice; with no choice shown the stored number stays as it was.
void storeEncryption(const QComboBox& choice, TVellisyncProject& project);
