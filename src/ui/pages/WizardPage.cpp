#include "ui/pages/WizardPage.h"

namespace wizard {

WizardPage::WizardPage(const QString& objectName, TVellisyncMain& window) : m_window(window) {
    setObjectName(objectName);
}

void WizardPage::Fill(const TVellisyncProject&) {}

void WizardPage::Enter() {}

bool WizardPage::Leave(bool) {
    return true;
}

} // namespace wizard
