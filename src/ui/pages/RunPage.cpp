#include "ui/pages/RunPage.h"

#include <algorithm>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QTimer>
#include <QVBoxLayout>

#include "sync/RunProgress.h"
#include "project/SyncThread.h"
#include "model/Errors.h"
#include "model/Global.h"
#include "project/CurrentProject.h"
#include "project/VellisyncProject.h"
#include "ui/ErrorHandler.h"
#include "ui/UiPrompts.h"
#include "ui/VellisyncMain.h"
#include "ui/pages/Controls.h"

namespace wizard {

namespace {

const QString UserGuideFile = QStringLiteral("guide.html");
// A few times a second: the bar looks alive and the run never notices.
constexpr int ProgressIntervalMs = 200;
// The bar's scale when it follows bytes.
constexpr int BarSteps = 1000;

// Feeds the run's stamped log lines into the log page.
class MemoLineSink : public LineSink {
public:
    explicit MemoLineSink(QPlainTextEdit* memo) : m_memo(memo) {}

    void AppendLine(const QString& line) override {
        if (m_memo)
            m_memo->appendPlainText(line);
    }

private:
    QPointer<QPlainTextEdit> m_memo;
};

// The little book of the promotional panel.
QPixmap guidePicture(int size) {
    QPixmap picture(size, size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal unit = size / 55.0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2a, 0x6f, 0xb8));
    painter.drawRoundedRect(QRectF(6 * unit, 6 * unit, 43 * unit, 43 * unit), 6 * unit, 6 * unit);
    painter.setBrush(Qt::white);
    painter.drawRect(QRectF(14 * unit, 13 * unit, 27 * unit, 29 * unit));
    painter.setPen(QPen(QColor(0x2a, 0x6f, 0xb8), 2 * unit));
    for (int line = 0; line < 4; ++line)
        painter.drawLine(QPointF(18 * unit, (20 + 6 * line) * unit), QPointF(37 * unit, (20 + 6 * line) * unit));
    return picture;
}

// "3 of 10 files, 1.2 MiB of 4.0 MiB": what the bar says of a known plan.
QString barText(const engine::ProgressSnapshot& progress) {
    QString text = QStringLiteral("%1 of %2 files").arg(progress.filesDone).arg(progress.filesPlanned);
    if (progress.bytesPlanned > 0)
        text += QStringLiteral(", %1 of %2")
                    .arg(engine::formatBytes(progress.bytesDone), engine::formatBytes(progress.bytesPlanned));
    // The bar reads % as the start of a placeholder.
    return text.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// "2 conflicts": the files changed on both sides that the run met so far.
QString conflictsText(const engine::ProgressSnapshot& progress) {
    return progress.conflicts == 1 ? QStringLiteral("1 conflict")
                                   : QStringLiteral("%1 conflicts").arg(progress.conflicts);
}

// The line under the bar: the conflicts met when there were any, the files in
// hand, the rate and the time left.
QString detailText(const engine::ProgressSnapshot& progress) {
    using Stage = engine::ProgressSnapshot::Stage;
    if (progress.stage == Stage::Scanning && !progress.planKnown())
        return engine::describeProgress(progress);
    if (progress.stage == Stage::Finished) {
        if (!progress.planKnown())
            return QStringLiteral("Finished before any file was planned.");
        QString text = QStringLiteral("Finished: %1 of %2 files in %3")
                           .arg(progress.filesDone)
                           .arg(progress.filesPlanned)
                           .arg(engine::formatDuration(progress.workingMs / 1000));
        if (progress.conflicts > 0)
            text += QStringLiteral(", ") + conflictsText(progress);
        return text + QLatin1Char('.');
    }
    QStringList parts;
    // First, so that a long list of files in hand cannot cut it off.
    if (progress.conflicts > 0)
        parts << conflictsText(progress);
    if (!progress.inHand.isEmpty())
        parts << QStringLiteral("In hand: %1").arg(progress.inHand.join(QStringLiteral(", ")));
    if (const double rate = progress.bytesPerSecond(); rate > 0)
        parts << QStringLiteral("%1/s").arg(engine::formatBytes(qint64(rate)));
    if (const qint64 left = progress.secondsLeft(); left >= 0)
        parts << QStringLiteral("%1 left").arg(engine::formatDuration(left));
    return parts.join(QStringLiteral(" | "));
}

} // namespace

RunPage::RunPage(TVellisyncMain& window) : WizardPage(QStringLiteral("TabSheet7"), window) {
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(newHeadingLabel(QStringLiteral("Progress Log"), this));
    Memo2 = new QPlainTextEdit(this);
    Memo2->setObjectName(QStringLiteral("Memo2"));
    Memo2->setReadOnly(true);
    Memo2->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo2->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    layout->addWidget(Memo2, 1);

    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setRange(0, 1);
    pbProgress->setValue(0);
    pbProgress->setFormat(QString());
    pbProgress->setTextVisible(true);
    layout->addWidget(pbProgress);
    lProgress = new QLabel(this);
    lProgress->setObjectName(QStringLiteral("lProgress"));
    // A long name must not widen the fixed window.
    lProgress->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    lProgress->setTextFormat(Qt::PlainText);
    layout->addWidget(lProgress);

    auto* buttons = new QHBoxLayout;
    bStop = new QPushButton(QStringLiteral("Stop"), this);
    bStop->setObjectName(QStringLiteral("bStop"));
    bSaveLog = new QPushButton(QStringLiteral("Save Log"), this);
    bSaveLog->setObjectName(QStringLiteral("bSaveLog"));
    bSaveProject = new QPushButton(QStringLiteral("Save Project"), this);
    bSaveProject->setObjectName(QStringLiteral("bSaveProject"));
    buttons->addStretch(1);
    for (QPushButton* button : {bStop, bSaveLog, bSaveProject}) {
        button->setMinimumWidth(button->fontMetrics().horizontalAdvance(QStringLiteral("Save Project")) + 28);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    layout->addWidget(CreatePromotion());

    m_logSink = std::make_unique<MemoLineSink>(Memo2);
    m_progressTimer = new QTimer(this);
    m_progressTimer->setInterval(ProgressIntervalMs);
    connect(m_progressTimer, &QTimer::timeout, this, [this] { ShowProgress(); });

    connect(bStop, &QPushButton::clicked, this, guarded([&window] { window.bStopClick(); }));
    connect(bSaveLog, &QPushButton::clicked, this, guarded([&window] { window.bSaveLogClick(); }));
    connect(bSaveProject, &QPushButton::clicked, this, guarded([&window] { window.bSaveProjectClick(); }));
}

RunPage::~RunPage() = default;

QWidget* RunPage::CreatePromotion() {
    Panel7 = new QFrame(this);
    Panel7->setObjectName(QStringLiteral("Panel7"));
    Panel7->setFrameShape(QFrame::NoFrame);
    Panel7->setCursor(Qt::PointingHandCursor);
    Panel7->setToolTip(QStringLiteral("Open the Vellisync user guide"));
    auto* promo = new QHBoxLayout(Panel7);
    promo->setContentsMargins(4, 2, 4, 2);
    auto* picture = new QLabel(Panel7);
    picture->setObjectName(QStringLiteral("Image2"));
    const int pictureSize = std::max(40, 3 * fontMetrics().height());
    picture->setPixmap(guidePicture(pictureSize));
    auto* text =
        newHeadingLabel(QStringLiteral("Vellisync user guide\nHow to describe, run and save a sync job"), Panel7);
    text->setObjectName(QStringLiteral("Label9"));
    QPalette palette = text->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Highlight));
    text->setPalette(palette);
    for (QWidget* part : std::initializer_list<QWidget*>{Panel7, picture, text}) {
        part->setCursor(Qt::PointingHandCursor);
        part->installEventFilter(this);
    }
    promo->addWidget(picture);
    promo->addWidget(text, 1);
    return Panel7;
}

bool RunPage::eventFilter(QObject* watched, QEvent* event) {
    const bool promotional = watched == Panel7 || (watched->parent() == Panel7 && watched->isWidgetType());
    if (promotional && event->type() == QEvent::MouseButtonPress) {
        m_window.Panel7MouseDown();
        return true;
    }
    if (promotional && event->type() == QEvent::MouseButtonRelease) {
        m_window.Panel7MouseUp();
        auto* widget = static_cast<QWidget*>(watched);
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (widget->rect().contains(mouse->position().toPoint()))
            runGuarded([this] { m_window.Panel7Click(); });
        return true;
    }
    return WizardPage::eventFilter(watched, event);
}

void RunPage::Enter() {
    m_window.StartRun();
}

bool RunPage::Leave(bool) {
    return m_window.QuerySaveChanges();
}

void RunPage::StartRun() {
    Memo2->clear();
    SetControlEnabled(bSaveLog, false);
    SetControlEnabled(bSaveProject, false);
    SetControlEnabled(m_window.bNext, false);
    // The counts of the run before must not show until the new run's thread
    // has started and reset them itself.
    currentProject().Progress().reset();
    ShowProgress();
    m_progressTimer->start();
    auto thread = std::make_unique<TFTPSyncThread>();
    thread->SetLines(m_logSink.get());
    thread->SetProject(CurrentProject.get());
    thread->SetOnTerminate([this](TFTPSyncThread& sender) { m_window.SyncThreadTerminated(sender); });
    m_runActive = true;
    // From here on the thread object frees itself when its run has ended.
    thread.release()->Resume();
}

void RunPage::RunEnded() {
    m_runActive = false;
    m_progressTimer->stop();
    ShowProgress();
    SetControlEnabled(bSaveLog, true);
    SetControlEnabled(bSaveProject, true);
    SetControlEnabled(m_window.bNext, true);
}

void RunPage::ShowProgress() {
    const engine::ProgressSnapshot progress = currentProject().Progress().snapshot();
    lProgress->setText(detailText(progress));
    if (!progress.planKnown()) {
        // Busy while scanning; empty once a run ended without a plan.
        const bool scanning = progress.stage == engine::ProgressSnapshot::Stage::Scanning;
        pbProgress->setRange(0, scanning ? 0 : 1);
        pbProgress->setValue(0);
        pbProgress->setFormat(QString());
        return;
    }
    // Bytes say more of the time a run takes than files do, when any travel.
    if (progress.bytesPlanned > 0) {
        pbProgress->setRange(0, BarSteps);
        pbProgress->setValue(int(progress.bytesDone * BarSteps / progress.bytesPlanned));
    } else {
        pbProgress->setRange(0, int(std::max<qint64>(1, progress.filesPlanned)));
        pbProgress->setValue(int(progress.filesPlanned == 0 ? 1 : progress.filesDone));
    }
    pbProgress->setFormat(barText(progress));
}

void RunPage::Stop() {
    currentProject().RequestStop();
}

void RunPage::SaveLog() {
    QString path = uiPrompts().saveFileName(&m_window, QStringLiteral("Save log file..."),
                                            QStringLiteral("Text files (*.txt);;All files (*)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".txt");
    QByteArray text;
    const QString log = Memo2->toPlainText();
    if (!log.isEmpty()) {
        for (const QString& line : log.split(QLatin1Char('\n')))
            text += line.toUtf8() + "\r\n";
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw VellisyncError(
            QStringLiteral("Cannot write \"%1\": %2").arg(QDir::toNativeSeparators(path), file.errorString()));
}

bool RunPage::QuerySaveChanges() {
    if (!currentProject().Modified)
        return true;
    switch (m_window.ConfirmYesNoCancel(QStringLiteral("Project has been modified!\nDo you want to save changes?"))) {
    case QMessageBox::Yes:
        m_window.SaveProject();
        return true;
    case QMessageBox::No:
        return true;
    default:
        return false;
    }
}

void RunPage::SaveProject() {
    TVellisyncProject& project = currentProject();
    QString target = project.FileName;
    if (target.isEmpty()) {
        const std::optional<QString> caption = uiPrompts().textQuery(
            &m_window, QStringLiteral("Enter the project caption, please"), QStringLiteral("Caption"), project.Caption);
        // Cancel keeps the current caption and still saves.
        if (caption && !caption->isEmpty())
            project.SetCaption(*caption);
        target = AddTrailingBackslash(ProjectsFolder) +
                 UniqueFileName(ProjectsFolder, QString::fromLatin1(ProjectFileNameFormat));
    }
    if (project.SaveToFile(target))
        project.FileName = target;
}

void RunPage::PromotionPressed() {
    Panel7->setFrameShape(QFrame::Panel);
    Panel7->setFrameShadow(QFrame::Sunken);
}

void RunPage::PromotionReleased() {
    Panel7->setFrameShape(QFrame::NoFrame);
}

QUrl RunPage::UserGuideUrl() {
    const QStringList folders = {
        QStringLiteral(VELLISYNC_DOC_DIR),
        // A relocated installation keeps the guide beside the program's prefix.
        QCoreApplication::applicationDirPath() + QStringLiteral("/../share/doc/Vellisync"),
        QStringLiteral(VELLISYNC_SOURCE_DOC_DIR),
    };
    for (const QString& folder : folders) {
        const QFileInfo guide(folder + QLatin1Char('/') + UserGuideFile);
        if (guide.isFile())
            return QUrl::fromLocalFile(guide.absoluteFilePath());
    }
    return {};
}

void RunPage::OpenUserGuide() {
    const QUrl guide = UserGuideUrl();
    if (guide.isEmpty())
        throw VellisyncError(QStringLiteral("The user guide \"%1\" is not installed").arg(UserGuideFile));
    if (!uiPrompts().openUrl(guide))
        throw VellisyncError(QStringLiteral("Cannot open \"%1\"").arg(guide.toLocalFile()));
}

} // namespace wizard
