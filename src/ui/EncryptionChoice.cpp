#include "ui/EncryptionChoice.h"

#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QSpinBox>

#include "project/VellisyncProject.h"

namespace {

constexpr int usualPort = 21;

} // namespace

QComboBox* addEncryptionChoice(QBoxLayout& layout, QWidget* page, QSpinBox& port) {
    auto* choice = new QComboBox(page);
    choice->setObjectName(QStringLiteral("cbEncryption"));
    for (const QString& name : TVellisyncProject::EncryptionNames)
        choice->addItem(name);
    choice->setToolTip(QStringLiteral("Explicit TLS asks the server for AUTH TLS; implicit TLS (usually port 990) "
                                      "encrypts from the first byte."));
    auto* label = new QLabel(QStringLiteral("&Encryption:"), page);
    label->setBuddy(choice);
    auto* row = new QHBoxLayout;
    row->addWidget(label);
    row->addWidget(choice);
    row->addStretch(1);
    layout.addLayout(row);

    // Only the user's own choice moves the port: showing a stored project
    // must never change its port.
    QObject::connect(choice, &QComboBox::activated, &port,
                     [&port, previous = choice->currentIndex()](int index) mutable {
                         const int implicit = int(TVellisyncProject::ImplicitEncryption);
                         const bool implicitNow = index == implicit;
                         const bool implicitBefore = previous == implicit;
                         if (implicitNow && !implicitBefore && port.value() == usualPort)
                             port.setValue(TVellisyncProject::ImplicitTlsPort);
                         else if (!implicitNow && implicitBefore && port.value() == TVellisyncProject::ImplicitTlsPort)
                             port.setValue(usualPort);
                         previous = index;
                     });
    return choice;
}

void showEncryption(QComboBox& choice, const TVellisyncProject& project) {
    // The items are in the order of the setting's numbers.
    const int number = int(project.Encryption);
    choice.setCurrentIndex(setting::isKnown(project.Encryption) && number < choice.count() ? number : -1);
}

void storeEncryption(const QComboBox& choice, TVellisyncProject& project) {
    if (choice.currentIndex() >= 0)
        project.SetEncryption(setting::Encryption(choice.currentIndex()));
}
