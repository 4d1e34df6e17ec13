#include "ui/pages/ProxyPage.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "project/VellisyncProject.h"
#include "ui/ErrorHandler.h"
#include "ui/VellisyncMain.h"
#include "ui/pages/Controls.h"

namespace wizard {

namespace {

const QString PlaceholderProxyHost = QStringLiteral("proxy.example.com");

} // namespace

ProxyPage::ProxyPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet3"), window) {
    auto* layout = new QVBoxLayout(this);
    rgUsingProxy = newRadioGroup(QStringLiteral("rgUsingProxy"), QStringLiteral("Using Proxy"),
                                 {QStringLiteral("Direct connection (without proxy)"), QStringLiteral("Use proxy")},
                                 m_usingProxyItems, this);
    layout->addWidget(rgUsingProxy);

    gbProxySettings = new QGroupBox(QStringLiteral("Proxy Settings"), this);
    gbProxySettings->setObjectName(QStringLiteral("gbProxySettings"));
    auto* grid = new QGridLayout(gbProxySettings);
    rbFTP = new QRadioButton(QStringLiteral("FTP Proxy"), gbProxySettings);
    rbFTP->setObjectName(QStringLiteral("rbFTP"));
    rbFTP->setChecked(true);
    rbSocks = new QRadioButton(QStringLiteral("SOCKS"), gbProxySettings);
    rbSocks->setObjectName(QStringLiteral("rbSocks"));
    eProxyHost = new QLineEdit(PlaceholderProxyHost, gbProxySettings);
    eProxyHost->setObjectName(QStringLiteral("eProxyHost"));
    udProxyPort = newPortSpinBox(QStringLiteral("udProxyPort"), QStringLiteral("eProxyPort"), 0, gbProxySettings);
    eProxyPort = udProxyPort->findChild<QLineEdit*>();
    grid->addWidget(rbFTP, 0, 0);
    grid->addWidget(rbSocks, 0, 1);
    grid->addWidget(newBuddyLabel(QStringLiteral("Host"), eProxyHost, gbProxySettings), 1, 0);
    grid->addWidget(newBuddyLabel(QStringLiteral("Port"), udProxyPort, gbProxySettings), 1, 1);
    grid->addWidget(eProxyHost, 2, 0);
    grid->addWidget(udProxyPort, 2, 1);
    grid->setColumnStretch(0, 4);
    grid->setColumnStretch(1, 1);
    layout->addWidget(gbProxySettings);
    layout->addStretch(1);

    connect(m_usingProxyItems, &QButtonGroup::buttonClicked, this, guarded([&window] { window.rgUsingProxyClick(); }));
}

void ProxyPage::Fill(const TVellisyncProject& project) {
    m_usingProxyItems->button(project.UseProxy ? 1 : 0)->setChecked(true);
    (project.ProxyKind == setting::ProxyKind::Ftp ? rbFTP : rbSocks)->setChecked(true);
    eProxyHost->setText(project.ProxyServer);
    showStoredNumber(udProxyPort, project.ProxyPort);
}

void ProxyPage::Enter() {
    SetControlEnabled(gbProxySettings, m_usingProxyItems->checkedId() > 0);
}

bool ProxyPage::Leave(bool movingForward) {
    if (!movingForward)
        return true;
    const bool useProxy = m_usingProxyItems->checkedId() > 0;
    if (useProxy && !holdsValue(eProxyPort))
        return refuseWithSound(eProxyPort);
    TVellisyncProject& project = currentProject();
    project.SetUseProxy(useProxy);
    project.SetProxyKind(rbFTP->isChecked() ? setting::ProxyKind::Ftp : setting::ProxyKind::Socks);
    project.SetProxyServer(eProxyHost->text());
    // An empty field stands for a stored port it cannot show; a direct
    // connection keeps that port as it is.
    if (holdsValue(eProxyPort))
        project.SetProxyPort(udProxyPort->value());
    return true;
}

} // namespace wizard
