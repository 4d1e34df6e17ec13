#pragma once

// After a run that a server certificate stopped (untrusted or changed): the
// question whether to trust that certificate for this project.

class QWidget;
class TVellisyncProject;

// Asks, when the last run refused a certificate, whether to trust it for this
// project; on Yes the project keeps its fingerprint as TrustedCertificate
// (the project is then modified) and true says that the run is to go again.
bool offerToTrustCertificate(QWidget* parent, TVellisyncProject& project);
