#include "ui/pages/Controls.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSpinBox>

#include "model/Global.h"
#include "project/CurrentProject.h"
#include "project/VellisyncProject.h"
#include "ui/UiPrompts.h"

namespace wizard {

namespace {

// Marks a group box of exclusive choices, which counts as one control.
constexpr const char* RadioGroupProperty = "vellisyncRadioGroup";

} // namespace

TVellisyncProject& currentProject() {
    return *CurrentProject;
}

void SetControlEnabled(QWidget* control, bool enabled) {
    if (control == nullptr)
        return;
    control->setEnabled(enabled);
    if (auto* label = qobject_cast<QLabel*>(control)) {
        SetControlEnabled(label->buddy(), enabled);
        return;
    }
    const bool holdsText = qobject_cast<QLineEdit*>(control) || qobject_cast<QAbstractSpinBox*>(control) ||
                           qobject_cast<QPlainTextEdit*>(control) || qobject_cast<QAbstractItemView*>(control);
    if (holdsText) {
        QPalette palette = control->palette();
        const QPalette& system = QApplication::palette();
        const QColor background = enabled ? system.color(QPalette::Base) : system.color(QPalette::Button);
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
            palette.setColor(group, QPalette::Base, background);
        control->setPalette(palette);
        return;
    }
    // Panels and group boxes pass the state on to what they hold; radio groups
    // count as single controls.
    const bool radioGroup = control->property(RadioGroupProperty).toBool();
    const bool container =
        !radioGroup && (control->inherits("QGroupBox") || control->metaObject() == &QFrame::staticMetaObject ||
                        control->metaObject() == &QWidget::staticMetaObject);
    if (!container)
        return;
    for (QObject* child : control->children()) {
        if (auto* widget = qobject_cast<QWidget*>(child); widget && !widget->isWindow())
            SetControlEnabled(widget, enabled);
    }
}

bool refuseWithSound(QLineEdit* edit) {
    edit->setFocus(Qt::OtherFocusReason);
    uiPrompts().beep();
    return false;
}

QLabel* newBuddyLabel(const QString& text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

QLabel* newHeadingLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QSpinBox* newNumberSpinBox(const QString& name, const QString& editName, int minimum, int maximum, int value,
                           QWidget* parent) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(minimum, maximum);
    spin->setValue(value);
    spin->setWrapping(false);
    spin->setAlignment(Qt::AlignLeft);
    // The spin box's own edit carries the edit's name, so both can be found.
    if (auto* edit = spin->findChild<QLineEdit*>())
        edit->setObjectName(editName);
    return spin;
}

QSpinBox* newPortSpinBox(const QString& name, const QString& editName, int minimum, QWidget* parent) {
    QSpinBox* spin = newNumberSpinBox(name, editName, minimum, TVellisyncProject::HighestPort, 21, parent);
    // A port is a number to copy, not a quantity: "20,876" or "20.876" is not
    // what a server's address says, and would not paste back. The C locale
    // also keeps the digits ASCII whatever the user's locale.
    spin->setGroupSeparatorShown(false);
    spin->setLocale(QLocale::c());
    return spin;
}

// The stored value is never changed behind the user's back: an empty field
// makes leaving the page ask for a value.
void showStoredNumber(QSpinBox* field, qint32 number) {
    if (number < field->minimum() || number > field->maximum()) {
        field->clear();
        return;
    }
    field->setValue(number);
}

// A port field that was left empty has no acceptable input.
bool holdsValue(const QLineEdit* edit) {
    return !edit->text().isEmpty() && edit->hasAcceptableInput();
}

QGroupBox* newRadioGroup(const QString& name, const QString& title, const QStringList& items, QButtonGroup*& group,
                         QWidget* parent) {
    auto* box = new QGroupBox(title, parent);
    box->setObjectName(name);
    box->setProperty(RadioGroupProperty, true);
    auto* grid = new QGridLayout(box);
    group = new QButtonGroup(box);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], box);
        button->setObjectName(QStringLiteral("%1Item%2").arg(name).arg(i));
        group->addButton(button, i);
        grid->addWidget(button, i / 2, i % 2);
    }
    group->button(0)->setChecked(true);
    return box;
}

} // namespace wizard
