#pragma once

// What the runner's commands share: its two output streams, the usage and
// failure messages, the stored projects and the reading of option values.

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>
#include <vector>

namespace cli {

QTextStream& out();
QTextStream& err();

// Says what was wrong with the command line on standard error; returns the
// exit status of a run that cannot go ahead.
int usageError(const QString& message);
// Says what failed on standard error; the same exit status.
int failure(const QString& message);

// A project file in the projects folder and the caption it holds.
struct StoredProject {
    QString caption;
    QString file;
};
// Every stored project that can be read.
std::vector<StoredProject> storedProjects();
// The stored projects whose caption is caption, in any letter case.
std::vector<StoredProject> projectsWithCaption(const QString& caption);

// The value that follows the option at arguments[i]; i is moved onto it. A
// forgotten value must not swallow the option that follows it.
bool takeValue(const QStringList& arguments, int& i, QString& target, QString& error);
// The decimal number text of option, when it lies from low to high.
std::optional<int> numberIn(const QString& option, const QString& text, int low, int high, QString& error);

// The fewest connections a run may be given.
inline constexpr int LowestConnections = 1;

// The create command, with the arguments that follow its name.
int createProject(const QStringList& arguments);

} // namespace cli
