#include "cli/CommandSupport.h"

#include "model/Errors.h"
#include "model/Global.h"
#include "project/VellisyncProject.h"
#include "cli/CommandLine.h"

namespace cli {

QTextStream& out() {
    static QTextStream stream(stdout);
    return stream;
}

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

int usageError(const QString& message) {
    err() << "vellisync-cli: " << message << "\nTry 'vellisync-cli --help'." << Qt::endl;
    return ExitCannotRun;
}

int failure(const QString& message) {
    err() << "vellisync-cli: " << message << Qt::endl;
    return ExitCannotRun;
}

// Every stored project with its caption, sorted by caption. A file that
// cannot be read is listed with the reason instead of a caption.
std::vector<StoredProject> storedProjects() {
    std::vector<StoredProject> projects;
    for (const QString& file : ProjectFilesIn(ProjectsFolder)) {
        TVellisyncProject project;
        try {
            project.LoadFromFile(file);
            projects.push_back({project.Caption, file});
        } catch (const VellisyncError& error) {
            projects.push_back({QStringLiteral("(unreadable: %1)").arg(error.message()), file});
        }
    }
    std::sort(projects.begin(), projects.end(), [](const StoredProject& a, const StoredProject& b) {
        const int byCaption = QString::localeAwareCompare(a.caption.toLower(), b.caption.toLower());
        return byCaption != 0 ? byCaption < 0 : a.file < b.file;
    });
    return projects;
}

std::vector<StoredProject> projectsWithCaption(const QString& caption) {
    std::vector<StoredProject> matches;
    for (StoredProject& project : storedProjects()) {
        if (QString::compare(project.caption, caption, Qt::CaseInsensitive) == 0)
            matches.push_back(std::move(project));
    }
    return matches;
}

// The value that follows the option at arguments[i]; i is moved onto it. A
// forgotten value must not swallow the option that follows it.
bool takeValue(const QStringList& arguments, int& i, QString& target, QString& error) {
    if (i + 1 >= arguments.size() || arguments.at(i + 1).startsWith(QLatin1String("--"))) {
        error = QStringLiteral("option '%1' needs a value").arg(arguments.at(i));
        return false;
    }
    target = arguments.at(++i);
    return true;
}

// The decimal number text of option, when it lies from low to high.
std::optional<int> numberIn(const QString& option, const QString& text, int low, int high, QString& error) {
    bool ok = false;
    const int n = text.toInt(&ok);
    if (!ok || n < low || n > high) {
        error = QStringLiteral("option '%1' needs a number from %2 to %3").arg(option).arg(low).arg(high);
        return std::nullopt;
    }
    return n;
}

} // namespace cli
