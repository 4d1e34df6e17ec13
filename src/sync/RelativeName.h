#pragma once

#include <QString>

#include <optional>

// A file's path relative to one of the two roots, levels joined with "/". It is
// the only form in which a name enters a file list, and so the only form that
// becomes a local path or a command to the server: every level is non-empty,
// neither "." nor "..", and holds no "/", NUL, CR or LF. A root followed by such
// a name therefore always lies under that root.
class RelativeName {
public:
    // The name of one entry directly in a root folder.
    static std::optional<RelativeName> fromLevel(const QString& level);
    // A whole relative path ("a/b/c.txt").
    static std::optional<RelativeName> fromPath(const QString& path);

    // This folder's entry called level.
    std::optional<RelativeName> child(const QString& level) const;

    const QString& text() const { return m_text; }
    // Everything up to and including the last "/" (empty for a top-level name).
    QString folderPart() const;
    // The last level.
    QString fileName() const;

    friend bool operator==(const RelativeName&, const RelativeName&) = default;

private:
    explicit RelativeName(QString text) : m_text(std::move(text)) {}
    QString m_text;
};

// Why a single level cannot be part of a relative name ("the name is \"..\"",
// say), or an empty text when it can.
QString levelProblem(const QString& level);

// Whether a terminal acts on the character rather than shows it (escape
// sequences, bells, C1 controls) or it turns the text around (bidirectional
// overrides, line and paragraph separators).
bool isControlOrFormat(QChar c);

// The text with control characters written as escapes (\r, \n, \t, \xNN) and
// a backslash doubled, so a hostile name shows in a log line as what it is and
// cannot forge a line of its own.
QString escapedForLog(const QString& text);

// The text with every control character but the line ends and tabs written
// as \xNN: what is left after the names of a line were escaped (a server's
// reply, say) can no longer act on the terminal that shows the log.
QString inertForTerminal(const QString& text);

// The key under which two names count as the same file: canonical composition
// (NFC, so a decomposed "é" meets a composed one) and Unicode case folding.
QString nameMatchKey(const QString& name);
