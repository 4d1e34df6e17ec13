#pragma once

#include "ui/pages/WizardPage.h"

#include <optional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QSpinBox;

namespace wizard {

// Page 1: the server, the logon, passive mode and the connections a run may use.
class ServerPage : public WizardPage {
    Q_OBJECT
public:
    explicit ServerPage(TVellisyncMain& window);

    void Fill(const TVellisyncProject& project) override;
    // "Anonymous Logon" puts the anonymous user and the placeholder address in
    // and disables both edits.
    void Enter() override;
    // With Next: host, port, user, password and connections must hold values;
    // the keyring choice says where the next save keeps the password.
    bool Leave(bool movingForward) override;

    QLineEdit* eHost = nullptr;
    QLineEdit* ePort = nullptr;
    QSpinBox* udPort = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QCheckBox* cbAnonim = nullptr;
    QLineEdit* eUserName = nullptr;
    QLineEdit* ePassword = nullptr;
    QCheckBox* cbPassive = nullptr;
    QLineEdit* eConnections = nullptr;
    QSpinBox* udConnections = nullptr;
    QComboBox* cbEncryption = nullptr;
    // "Keep the password in the desktop keyring": shown when a keyring
    // answers, or when the project keeps its password there already (so it
    // can be moved back into the file).
    QCheckBox* cbKeyring = nullptr;

private:
    // Asks the keyring once per page: the question waits for its answer.
    bool keyringReachable();

    QString m_placeholderPassword;
    std::optional<bool> m_keyringReachable;
};

} // namespace wizard
