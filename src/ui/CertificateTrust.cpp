#include "ui/CertificateTrust.h"

#include <QMessageBox>

#include "project/VellisyncProject.h"
#include "ui/UiPrompts.h"

bool offerToTrustCertificate(QWidget* parent, TVellisyncProject& project) {
    const QString fingerprint = project.LastRunOutcome().refusedCertificate;
    if (fingerprint.isEmpty())
        return false;
    // The question names the fingerprint, so the user can compare it with
    // the one the server's owner gives out before trusting it; No is the
    // default, as trusting a stranger's certificate must be a deliberate act.
    const QString text =
        QStringLiteral("The server's certificate was not accepted (see the log).\n\n"
                       "SHA-256 fingerprint:\n%1\n\n"
                       "Trust this certificate for this project? Only this certificate will then be accepted, "
                       "and the run starts again.")
            .arg(fingerprint);
    const QMessageBox::StandardButton answer = uiPrompts().question(
        parent, QStringLiteral("Trust Certificate"), text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return false;
    return project.SetTrustedCertificate(fingerprint);
}
