#include "ui/pages/ServerPage.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

#include "project/VellisyncProject.h"
#include "ui/EncryptionChoice.h"
#include "ui/ErrorHandler.h"
#include "ui/VellisyncMain.h"
#include "ui/pages/Controls.h"

namespace wizard {

namespace {

constexpr qint32 LowestConnections = 1;
const QString AnonymousUser = QStringLiteral("anonymous");

} // namespace

ServerPage::ServerPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet2"), window) {
    // The placeholders are the new-project defaults.
    TVellisyncProject defaults;
    defaults.SetDefaults();
    m_placeholderPassword = defaults.Password;

    auto* layout = new QVBoxLayout(this);
    auto* server = new QGridLayout;
    eHost = new QLineEdit(defaults.Server, this);
    eHost->setObjectName(QStringLiteral("eHost"));
    udPort = newPortSpinBox(QStringLiteral("udPort"), QStringLiteral("ePort"), 1, this);
    ePort = udPort->findChild<QLineEdit*>();
    server->addWidget(newBuddyLabel(QStringLiteral("Host"), eHost, this), 0, 0);
    server->addWidget(newBuddyLabel(QStringLiteral("Port"), udPort, this), 0, 1);
    server->addWidget(eHost, 1, 0);
    server->addWidget(udPort, 1, 1);
    server->setColumnStretch(0, 4);
    server->setColumnStretch(1, 1);
    layout->addLayout(server);

    GroupBox1 = new QGroupBox(QStringLiteral("Authentication"), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* logon = new QGridLayout(GroupBox1);
    cbAnonim = new QCheckBox(QStringLiteral("Anonymous Logon"), GroupBox1);
    cbAnonim->setObjectName(QStringLiteral("cbAnonim"));
    cbAnonim->setChecked(true);
    eUserName = new QLineEdit(AnonymousUser, GroupBox1);
    eUserName->setObjectName(QStringLiteral("eUserName"));
    ePassword = new QLineEdit(m_placeholderPassword, GroupBox1);
    ePassword->setObjectName(QStringLiteral("ePassword"));
    ePassword->setEchoMode(QLineEdit::Password);
    logon->addWidget(cbAnonim, 0, 0, 1, 2);
    logon->addWidget(newBuddyLabel(QStringLiteral("Username:"), eUserName, GroupBox1), 1, 0);
    logon->addWidget(eUserName, 1, 1);
    logon->addWidget(newBuddyLabel(QStringLiteral("Password:"), ePassword, GroupBox1), 2, 0);
    logon->addWidget(ePassword, 2, 1);
    cbKeyring = new QCheckBox(QStringLiteral("Keep the password in the desktop keyring"), GroupBox1);
    cbKeyring->setObjectName(QStringLiteral("cbKeyring"));
    cbKeyring->setToolTip(QStringLiteral("The project file then holds no password."));
    cbKeyring->setVisible(false);
    logon->addWidget(cbKeyring, 3, 0, 1, 2);
    layout->addWidget(GroupBox1);

    cbPassive = new QCheckBox(QStringLiteral("Passive mode"), this);
    cbPassive->setObjectName(QStringLiteral("cbPassive"));
    layout->addWidget(cbPassive);

    udConnections = newNumberSpinBox(QStringLiteral("udConnections"), QStringLiteral("eConnections"), LowestConnections,
                                     TVellisyncProject::MaxConnections, TVellisyncProject::DefaultConnections, this);
    eConnections = udConnections->findChild<QLineEdit*>();
    // Servers stall when several of their connections back to us open at once,
    // so a run in active mode keeps to one whatever the setting.
    udConnections->setToolTip(QStringLiteral("Active mode always uses one connection."));
    auto* connections = new QHBoxLayout;
    connections->addWidget(newBuddyLabel(QStringLiteral("Simultaneous connections:"), udConnections, this));
    connections->addWidget(udConnections);
    connections->addStretch(1);
    layout->addLayout(connections);
    cbEncryption = addEncryptionChoice(*layout, this, *udPort);
    layout->addStretch(1);

    connect(cbAnonim, &QCheckBox::clicked, this, guarded([&window] { window.cbAnonimClick(); }));
}

void ServerPage::Fill(const TVellisyncProject& project) {
    eHost->setText(project.Server);
    showStoredNumber(udPort, project.Port);
    eUserName->setText(project.UserName);
    ePassword->setText(project.Password);
    cbPassive->setChecked(project.Passive);
    showStoredNumber(udConnections, project.Connections);
    showEncryption(*cbEncryption, project);
    cbAnonim->setChecked(eUserName->text().toLower() == AnonymousUser);
    // A new project keeps its password in the keyring when there is one; a
    // stored one keeps it where it is until the user moves it.
    const bool offered = project.passwordInKeyring() || keyringReachable();
    cbKeyring->setVisible(offered);
    cbKeyring->setChecked(project.passwordInKeyring() || (offered && project.FileName.isEmpty()));
}

bool ServerPage::keyringReachable() {
    if (!m_keyringReachable)
        m_keyringReachable = TVellisyncProject::KeyringReachable();
    return *m_keyringReachable;
}

void ServerPage::Enter() {
    if (cbAnonim->isChecked()) {
        eUserName->setText(AnonymousUser);
        ePassword->setText(m_placeholderPassword);
    }
    SetControlEnabled(eUserName, !cbAnonim->isChecked());
    SetControlEnabled(ePassword, !cbAnonim->isChecked());
}

bool ServerPage::Leave(bool movingForward) {
    if (!movingForward)
        return true;
    for (QLineEdit* required : {eHost, ePort, eUserName, ePassword, eConnections}) {
        if (!holdsValue(required))
            return refuseWithSound(required);
    }
    TVellisyncProject& project = currentProject();
    project.SetServer(eHost->text());
    project.SetPort(udPort->value());
    project.SetUserName(eUserName->text());
    project.SetPassword(ePassword->text());
    project.SetPasswordInKeyring(!cbKeyring->isHidden() && cbKeyring->isChecked());
    project.SetPassive(cbPassive->isChecked());
    project.SetConnections(udConnections->value());
    storeEncryption(*cbEncryption, project);
    return true;
}

} // namespace wizard
