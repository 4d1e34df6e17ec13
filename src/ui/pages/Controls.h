#pragma once

#include <QString>
#include <QStringList>

class QButtonGroup;
class QGroupBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QWidget;
class TVellisyncProject;

// Control helpers that every wizard page shares.
namespace wizard {

// The program's one project, which the wizard edits and runs.
TVellisyncProject& currentProject();

// Enables or disables a control with visual feedback: edits and lists get
// the window or the button-face background; panels and group boxes pass the
// state on to their children; a label passes it to its buddy; a radio group
// counts as one control.
void SetControlEnabled(QWidget* control, bool enabled);

// Refuses a page change: the focus goes to the edit, the exclamation sound
// plays, no text is shown. Always false.
bool refuseWithSound(QLineEdit* edit);

QLabel* newBuddyLabel(const QString& text, QWidget* buddy, QWidget* parent);
QLabel* newHeadingLabel(const QString& text, QWidget* parent);

// A spin box for a number whose own edit carries editName, so that both can be
// found by name.
QSpinBox* newNumberSpinBox(const QString& name, const QString& editName, int minimum, int maximum, int value,
                           QWidget* parent);
// A port field from minimum to the highest port, 21 at first, with the
// locale's thousands separator.
QSpinBox* newPortSpinBox(const QString& name, const QString& editName, int minimum, QWidget* parent);
// Shows a stored number (a port, the connections) in its field. A number
// outside the field's range leaves the field empty rather than clamped.
void showStoredNumber(QSpinBox* field, qint32 number);
// Whether an edit holds a value that may be stored: not empty and accepted by
// its validator.
bool holdsValue(const QLineEdit* edit);

// A titled box of exclusive choices in two columns, named NAMEItemN; group
// gives the item index (-1 when none is chosen). Item 0 starts chosen.
QGroupBox* newRadioGroup(const QString& name, const QString& title, const QStringList& items, QButtonGroup*& group,
                         QWidget* parent);

} // namespace wizard
