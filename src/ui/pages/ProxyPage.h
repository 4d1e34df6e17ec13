#pragma once

#include "ui/pages/WizardPage.h"

class QButtonGroup;
class QGroupBox;
class QLineEdit;
class QRadioButton;
class QSpinBox;

namespace wizard {

// Page 2: a direct connection, or an FTP or SOCKS proxy.
class ProxyPage : public WizardPage {
    Q_OBJECT
public:
    explicit ProxyPage(TVellisyncMain& window);

    void Fill(const TVellisyncProject& project) override;
    // The proxy settings are enabled with "Use proxy" only.
    void Enter() override;
    bool Leave(bool movingForward) override;

    QGroupBox* rgUsingProxy = nullptr;
    QGroupBox* gbProxySettings = nullptr;
    QRadioButton* rbFTP = nullptr;
    QRadioButton* rbSocks = nullptr;
    QLineEdit* eProxyHost = nullptr;
    QLineEdit* eProxyPort = nullptr;
    QSpinBox* udProxyPort = nullptr;

private:
    QButtonGroup* m_usingProxyItems = nullptr;
};

} // namespace wizard
