#include "sync/RelativeName.h"

#include <algorithm>

#include <QStringList>
#include <QStringView>

namespace {

bool isLineOrNul(QChar c) {
    return c == QLatin1Char('\r') || c == QLatin1Char('\n') || c.unicode() == 0;
}

} // namespace

QString levelProblem(const QString& level) {
    if (level.isEmpty())
        return QStringLiteral("the name is empty");
    if (level == QLatin1String(".") || level == QLatin1String(".."))
        return QStringLiteral("the name \"%1\" stands for a folder, not a file in it").arg(level);
    if (level.contains(QLatin1Char('/')))
        return QStringLiteral("the name holds a \"/\"");
    if (std::any_of(level.cbegin(), level.cend(), isLineOrNul))
        return QStringLiteral("the name holds a line break or NUL, which cannot be sent to an FTP server");
    return {};
}

std::optional<RelativeName> RelativeName::fromLevel(const QString& level) {
    if (!levelProblem(level).isEmpty())
        return std::nullopt;
    return RelativeName(level);
}

std::optional<RelativeName> RelativeName::fromPath(const QString& path) {
    // Level by level in place, as levelProblem would judge each: every name
    // of a tree and of a sync state passes here.
    const QStringView whole(path);
    for (qsizetype start = 0;;) {
        const qsizetype slash = whole.indexOf(QLatin1Char('/'), start);
        const QStringView level = whole.mid(start, (slash < 0 ? whole.size() : slash) - start);
        if (level.isEmpty() || level == u"." || level == u".." ||
            std::any_of(level.cbegin(), level.cend(), isLineOrNul))
            return std::nullopt;
        if (slash < 0)
            return RelativeName(path);
        start = slash + 1;
    }
}

std::optional<RelativeName> RelativeName::child(const QString& level) const {
    if (!levelProblem(level).isEmpty())
        return std::nullopt;
    return RelativeName(m_text + QLatin1Char('/') + level);
}

QString RelativeName::folderPart() const {
    return m_text.left(m_text.lastIndexOf(QLatin1Char('/')) + 1);
}

QString RelativeName::fileName() const {
    return m_text.mid(m_text.lastIndexOf(QLatin1Char('/')) + 1);
}

bool isControlOrFormat(QChar c) {
    const char16_t code = c.unicode();
    return code < 0x20 || code == 0x7f || (code >= 0x80 && code < 0xa0) || c.category() == QChar::Other_Format ||
           c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

namespace {

QString hexEscape(QChar c) {
    return QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
}

} // namespace

QString escapedForLog(const QString& text) {
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\r':
            shown += QLatin1String("\\r");
            break;
        case '\n':
            shown += QLatin1String("\\n");
            break;
        case '\t':
            shown += QLatin1String("\\t");
            break;
        case '\\':
            shown += QLatin1String("\\\\");
            break;
        default:
            if (isControlOrFormat(c))
                shown += hexEscape(c);
            else
                shown += c;
        }
    }
    return shown;
}

QString inertForTerminal(const QString& text) {
    const auto needsEscape = [](QChar c) {
        return isControlOrFormat(c) && c != QLatin1Char('\r') && c != QLatin1Char('\n') && c != QLatin1Char('\t');
    };
    if (std::none_of(text.cbegin(), text.cend(), needsEscape))
        return text;
    QString shown;
    shown.reserve(text.size() + 8);
    for (const QChar c : text)
        shown += needsEscape(c) ? hexEscape(c) : QString(c);
    return shown;
}

QString nameMatchKey(const QString& name) {
    // Most names are plain ASCII, where folding is lower case and no form
    // composes: every name of a large tree passes here, often twice.
    if (std::all_of(name.cbegin(), name.cend(), [](QChar c) { return c.unicode() < 0x80; })) {
        const auto isUpper = [](QChar c) { return c.unicode() >= u'A' && c.unicode() <= u'Z'; };
        if (std::none_of(name.cbegin(), name.cend(), isUpper))
            return name; // shared, not copied
        QString key = name;
        for (QChar& c : key) {
            if (isUpper(c))
                c = QChar(char16_t(c.unicode() + (u'a' - u'A')));
        }
        return key;
    }
    const QString composed = name.normalized(QString::NormalizationForm_C);
    QString key;
    key.reserve(composed.size());
    for (const uint codePoint : QStringView(composed).toUcs4())
        key.append(QChar::fromUcs4(QChar::toCaseFolded(char32_t(codePoint))));
    // Folding can leave a sequence that composes further.
    return key.normalized(QString::NormalizationForm_C);
}
