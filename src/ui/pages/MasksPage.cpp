#include "ui/pages/MasksPage.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "project/VellisyncProject.h"
#include "ui/pages/Controls.h"

namespace wizard {

MasksPage::MasksPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet5"), window) {
    auto* layout = new QVBoxLayout(this);
    eIncludeMasks = new QLineEdit(QStringLiteral("*.*"), this);
    eIncludeMasks->setObjectName(QStringLiteral("eIncludeMasks"));
    eExcludeMasks = new QLineEdit(this);
    eExcludeMasks->setObjectName(QStringLiteral("eExcludeMasks"));
    layout->addWidget(newBuddyLabel(QStringLiteral("Include masks (comma separated)"), eIncludeMasks, this));
    layout->addWidget(eIncludeMasks);
    layout->addSpacing(8);
    layout->addWidget(newBuddyLabel(QStringLiteral("Exclude masks (comma separated)"), eExcludeMasks, this));
    layout->addWidget(eExcludeMasks);
    layout->addStretch(1);
}

void MasksPage::Fill(const TVellisyncProject& project) {
    eIncludeMasks->setText(project.IncludeMasks);
    eExcludeMasks->setText(project.ExcludeMasks);
}

bool MasksPage::Leave(bool) {
    currentProject().SetIncludeMasks(eIncludeMasks->text());
    currentProject().SetExcludeMasks(eExcludeMasks->text());
    return true;
}

ReviewPage::ReviewPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet6"), window) {
    auto* layout = new QVBoxLayout(this);
    mReview = new QPlainTextEdit(this);
    mReview->setObjectName(QStringLiteral("mReview"));
    mReview->setReadOnly(true);
    mReview->setLineWrapMode(QPlainTextEdit::NoWrap);
    mReview->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mReview->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The review reads as part of the page, not as something to edit.
    QPalette palette = mReview->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Window));
    mReview->setPalette(palette);
    layout->addWidget(newHeadingLabel(QStringLiteral("Review of the project"), this));
    layout->addWidget(mReview, 1);
}

void ReviewPage::Enter() {
    mReview->setPlainText(currentProject().GetReviewText());
}

} // namespace wizard
