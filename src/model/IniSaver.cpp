#include "model/IniSaver.h"

#include <algorithm>

#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScopeGuard>

#include "model/Errors.h"
#include "model/Global.h"
#include "model/UserMessage.h"

namespace {

const QString RootSectionName = IniRootSection.toString();
const QString NoValue = QStringLiteral("NONE");
constexpr QChar TokenSeparator = u'|';
constexpr QChar QuoteChar = u'"';

bool isBlank(QChar c) {
    return c.unicode() >= 1 && c.unicode() <= 32;
}

bool lessWithoutCase(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

QStringList splitIntoLines(const QString& text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    return text.split(lineBreak);
}

// The key of the lookup indexes. Qt's case folding maps character by
// character, as QString::compare does without regard to case, so both agree
// on which names are the same.
QString indexKey(const QString& text) {
    return text.toCaseFolded();
}

QString decodeText(QByteArray bytes) {
    // A byte-order mark left by an editor would otherwise hide the first section.
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes.remove(0, 3);
    }
    return QString::fromUtf8(bytes);
}

QByteArray encodeLines(const QStringList& lines) {
    QByteArray bytes;
    for (const QString& line : lines) {
        bytes += line.toUtf8();
        bytes += "\r\n";
    }
    return bytes;
}

// Splits a value text into tokens: separated by '|' and blanks, a token in
// double quotes may hold both ("" inside stands for one quote). A '|' at the
// very end adds a last, empty token.
QStringList splitTokens(QString text) {
    // A NUL ends the text, as it would in a C string; it could not be stepped over otherwise.
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0) {
        text.truncate(nul);
    }
    QStringList tokens;
    const qsizetype size = text.size();
    qsizetype pos = 0;
    while (pos < size && isBlank(text.at(pos))) {
        ++pos;
    }
    while (pos < size) {
        QString token;
        if (text.at(pos) == QuoteChar) {
            ++pos;
            while (pos < size) {
                if (text.at(pos) == QuoteChar) {
                    if (pos + 1 < size && text.at(pos + 1) == QuoteChar) {
                        token += QuoteChar;
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    break;
                }
                token += text.at(pos++);
            }
        } else {
            const qsizetype start = pos;
            while (pos < size && text.at(pos).unicode() > 32 && text.at(pos) != TokenSeparator) {
                ++pos;
            }
            token = text.mid(start, pos - start);
        }
        tokens << token;
        while (pos < size && isBlank(text.at(pos))) {
            ++pos;
        }
        if (pos < size && text.at(pos) == TokenSeparator) {
            if (pos + 1 == size) {
                tokens << QString();
            }
            do {
                ++pos;
            } while (pos < size && isBlank(text.at(pos)));
        }
    }
    return tokens;
}

const QString& tokenAt(const QStringList& tokens, int index) {
    if (index >= tokens.size()) {
        throw VellisyncError(QStringLiteral("List index out of bounds (%1)").arg(index));
    }
    return tokens.at(index);
}

qint32 toInteger(const QString& text) {
    bool ok = false;
    const qint32 value = text.toInt(&ok, 10);
    if (!ok) {
        throw VellisyncError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    }
    return value;
}

// Numbers are written and read with a point as decimal separator in every
// locale, so a file means the same on every machine.
double toFloat(const QString& text) {
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok) {
        throw VellisyncError(QStringLiteral("'%1' is not a valid floating point value").arg(text));
    }
    return value;
}

// Up to 15 significant digits; scientific form as 1.5E20 or 2E-7.
QString formatFloat(double value) {
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(u'e');
    if (e < 0) {
        return text;
    }
    QString exponent = text.mid(e + 1);
    const bool negative = exponent.startsWith(u'-');
    exponent.remove(0, exponent.startsWith(u'-') || exponent.startsWith(u'+') ? 1 : 0);
    while (exponent.size() > 1 && exponent.startsWith(u'0')) {
        exponent.remove(0, 1);
    }
    return text.left(e) + u'E' + (negative ? QStringLiteral("-") : QString()) + exponent;
}

// The layout keeps one value per line: a line break inside a text would split
// the file line and lose what follows, so each one is written as a blank.
QString singleLine(QString text) {
    static const QRegularExpression lineBreak(QStringLiteral("\r\n|\r|\n"));
    return text.replace(lineBreak, QStringLiteral(" "));
}

QString quoted(const QString& text) {
    QString doubled = text;
    doubled.replace(QuoteChar, QStringLiteral("\"\""));
    return QuoteChar + doubled + QuoteChar;
}

} // namespace

// --- IniDocument ---------------------------------------------------------------

std::unique_ptr<IniDocument> IniDocument::fromFile(const QString& fileName) {
    auto document = std::make_unique<IniDocument>();
    if (fileName.isEmpty() || !QFile::exists(fileName)) {
        return document;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        throw VellisyncError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw VellisyncError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    }
    document->setText(bytes);
    return document;
}

void IniDocument::setLines(const QStringList& lines) {
    clear();
    Section* current = nullptr;
    for (const QString& rawLine : lines) {
        const QString line = trimBlanksAndControls(rawLine);
        if (line.isEmpty() || line.startsWith(u';')) {
            continue;
        }
        if (line.size() >= 2 && line.startsWith(u'[') && line.endsWith(u']')) {
            current = &sectionNamed(trimBlanksAndControls(line.mid(1, line.size() - 2)));
            continue;
        }
        if (current == nullptr) {
            continue; // before the first section
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) {
            current->append(Line{QString(), line, false});
        } else {
            current->append(
                Line{trimBlanksAndControls(line.left(equals)), trimBlanksAndControls(line.mid(equals + 1)), true});
        }
    }
}

void IniDocument::setText(const QByteArray& bytes) {
    setLines(splitIntoLines(decodeText(bytes)));
}

void IniDocument::clear() {
    m_sections.clear();
    m_sectionIndex.clear();
}

QStringList IniDocument::lines() const {
    QStringList text;
    for (const Section& section : m_sections) {
        text << u'[' + section.name + u']';
        for (const Line& line : section.lines) {
            text << (line.isPair ? line.key + u'=' + line.value : line.value);
        }
        text << QString();
    }
    return text;
}

void IniDocument::Section::append(Line line) {
    if (line.isPair) {
        const QString key = indexKey(line.key);
        if (!firstLineOfKey.contains(key)) { // a repeated key is found at its first line
            firstLineOfKey.insert(key, lines.size());
        }
    }
    lines.push_back(std::move(line));
}

IniDocument::Section* IniDocument::findSection(const QString& name) {
    const auto found = m_sectionIndex.constFind(indexKey(name));
    return found == m_sectionIndex.constEnd() ? nullptr : &m_sections[*found];
}

const IniDocument::Section* IniDocument::findSection(const QString& name) const {
    return const_cast<IniDocument*>(this)->findSection(name);
}

IniDocument::Section& IniDocument::sectionNamed(const QString& name) {
    if (Section* found = findSection(name)) {
        return *found;
    }
    m_sectionIndex.insert(indexKey(name), m_sections.size());
    m_sections.push_back(Section{name, {}, {}});
    return m_sections.back();
}

const IniDocument::Line* IniDocument::findLine(const QString& section, const QString& key) const {
    const Section* found = findSection(section);
    if (found == nullptr) {
        return nullptr;
    }
    const auto line = found->firstLineOfKey.constFind(indexKey(key));
    return line == found->firstLineOfKey.constEnd() ? nullptr : &found->lines[*line];
}

QStringList IniDocument::keys(const QString& section) const {
    QStringList result;
    if (const Section* found = findSection(section)) {
        for (const Line& line : found->lines) {
            if (line.isPair) {
                result << line.key;
            }
        }
    }
    return result;
}

QStringList IniDocument::values(const QString& section) const {
    QStringList result;
    if (const Section* found = findSection(section)) {
        for (const Line& line : found->lines) {
            if (line.isPair) {
                result << line.value;
            }
        }
    }
    return result;
}

QString IniDocument::value(const QString& section, const QString& key, const QString& defaultValue) const {
    const Line* line = findLine(section, key);
    return line == nullptr ? defaultValue : line->value;
}

void IniDocument::setValue(const QString& section, const QString& key, const QString& value) {
    Section& target = sectionNamed(section);
    const auto found = target.firstLineOfKey.constFind(indexKey(key));
    if (found != target.firstLineOfKey.constEnd()) {
        target.lines[*found] = Line{key, value, true};
        return;
    }
    target.append(Line{key, value, true});
}

void IniDocument::writeToFile(const QString& fileName) const {
    // The new content goes to a temporary file beside the old one, which is
    // renamed over it only when complete: a failed or interrupted save leaves
    // the previous file whole. Stores hold passwords, so only the owner may
    // read the file.
    QSaveFile file(fileName);
    const auto fail = [&] {
        throw VellisyncError(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
    };
    // Unbuffered, so a short write (a full disk) shows in write()'s count
    // instead of being lost in a flush that the commit does not check.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        fail();
    }
    if (!file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        fail();
    }
    const QByteArray bytes = encodeLines(lines());
    if (file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError || !file.commit()) {
        fail();
    }
}

// --- tinidatasaver ---------------------------------------------------------------

std::unique_ptr<TBaseDataSaver> tinidatasaver::NewStore() const {
    return std::make_unique<tinidatasaver>();
}

QString tinidatasaver::SectionName() const {
    const QString path = GetPath();
    return path.isEmpty() ? RootSectionName : path;
}

bool tinidatasaver::DelegateTo(TBaseDataSaver* store, IniDocument* document, int depth, bool save) {
    auto* nested = dynamic_cast<tinidatasaver*>(store);
    if (nested == nullptr) {
        return false;
    }
    nested->IniFile = document;
    nested->Depth = depth;
    // The document belongs to the outermost store; the nested one only borrows it.
    const auto release = qScopeGuard([nested] { nested->IniFile = nullptr; });
    return save ? nested->Save() : nested->Load();
}

bool tinidatasaver::Save() {
    std::unique_ptr<IniDocument> ownDocument;
    if (Depth == 0 && !StreamMode) {
        // Reading the old file first reports a file that exists but cannot be read.
        ownDocument = IniDocument::fromFile(FileName);
        ownDocument->clear();
        IniFile = ownDocument.get();
    }
    const auto release = qScopeGuard([&] {
        if (ownDocument) {
            IniFile = nullptr;
        }
    });
    bool result = true;
    SaveEntries(result);
    if (ownDocument) {
        ownDocument->writeToFile(FileName);
    }
    return result;
}

void tinidatasaver::SaveEntries(bool& result) {
    const QString section = SectionName();
    const QString path = GetPath();
    for (int i = 0; i < Count(); ++i) {
        const DataEntry& entry = EntryAt(i);
        switch (entry.type) {
        case DataType::Integer:
            IniFile->setValue(section, entry.name, QStringLiteral("INTEGER|") + QString::number(entry.integerValue));
            continue;
        case DataType::Float:
            IniFile->setValue(section, entry.name, QStringLiteral("FLOAT|") + formatFloat(entry.floatValue));
            continue;
        case DataType::String:
            IniFile->setValue(section, entry.name, QStringLiteral("STRING|") + quoted(singleLine(entry.stringValue)));
            continue;
        case DataType::StringList: {
            IniFile->setValue(section, entry.name, QStringLiteral("STRINGLIST"));
            const QString listSection = path + u'\\' + entry.name;
            for (int line = 0; line < entry.stringListValue.size(); ++line) {
                IniFile->setValue(listSection, u's' + QString::number(line + 1),
                                  singleLine(entry.stringListValue.at(line)));
            }
            continue;
        }
        case DataType::Folder:
            IniFile->setValue(section, entry.name, QStringLiteral("FOLDER"));
            DelegateTo(entry.folderValue.get(), IniFile, Depth + 1, true);
            continue;
        }
        showUserMessage(QStringLiteral("Unknown vaiable type \"%1\"").arg(entry.name));
        result = false;
    }
}

bool tinidatasaver::Load() {
    std::unique_ptr<IniDocument> ownDocument;
    if (Depth == 0 && !StreamMode) {
        ownDocument = IniDocument::fromFile(FileName);
        IniFile = ownDocument.get();
    }
    const auto release = qScopeGuard([&] {
        if (ownDocument) {
            IniFile = nullptr;
        }
    });
    bool result = true;
    LoadKeys(result);
    return result;
}

void tinidatasaver::LoadKeys(bool& result) {
    const QString section = SectionName();
    const QString path = GetPath();
    // The store keeps its entries sorted by name: taking the keys in that order
    // adds each entry at the end instead of moving the ones after it. A file
    // written by Save lists them in that order already.
    QStringList keys = IniFile->keys(section);
    std::stable_sort(keys.begin(), keys.end(), lessWithoutCase);
    bool previousWasFolder = false;
    for (qsizetype i = 0; i < keys.size(); ++i) {
        const QString& key = keys.at(i);
        if (i > 0 && QString::compare(key, keys.at(i - 1), Qt::CaseInsensitive) == 0) {
            // A repeated key stands for its first line again, which is read
            // already; only a folder cannot be added twice, and fails as before.
            if (previousWasFolder) {
                AddFolder(key);
            }
            continue;
        }
        previousWasFolder = false;
        const QString valueText = IniFile->value(section, key, NoValue);
        if (valueText == NoValue) {
            continue;
        }
        const QStringList tokens = splitTokens(valueText);
        const QString& tag = tokenAt(tokens, 0);
        const QString upperTag = tag.toUpper();
        if (upperTag == QLatin1String("INTEGER")) {
            WriteInteger(key, toInteger(tokenAt(tokens, 1)));
        } else if (upperTag == QLatin1String("FLOAT")) {
            WriteFloat(key, toFloat(tokenAt(tokens, 1)));
        } else if (upperTag == QLatin1String("STRING")) {
            WriteString(key, tokenAt(tokens, 1));
        } else if (upperTag == QLatin1String("STRINGLIST")) {
            WriteStringList(key, IniFile->values(path + u'\\' + key));
        } else if (upperTag == QLatin1String("FOLDER")) {
            DelegateTo(AddFolder(key), IniFile, Depth + 1, false);
            previousWasFolder = true;
        } else {
            showUserMessage(QStringLiteral("Unknown type '") + tag + u'\'');
            result = false;
        }
    }
}

bool tinidatasaver::SaveToStream(QIODevice& stream) {
    if (Depth != 0) {
        return false;
    }
    IniDocument document;
    StreamMode = true;
    IniFile = &document;
    const auto restore = qScopeGuard([this] {
        StreamMode = false;
        IniFile = nullptr;
    });
    const bool result = Save();
    const QByteArray bytes = encodeLines(document.lines());
    return stream.write(bytes) == bytes.size() && result;
}

bool tinidatasaver::LoadFromStream(QIODevice& stream) {
    if (Depth != 0) {
        return false;
    }
    IniDocument document;
    document.setText(stream.readAll());
    return LoadFromDocument(document);
}

bool tinidatasaver::LoadFromDocument(IniDocument& document) {
    if (Depth != 0) {
        return false;
    }
    StreamMode = true;
    IniFile = &document;
    const auto restore = qScopeGuard([this] {
        StreamMode = false;
        IniFile = nullptr;
    });
    return Load();
}
