#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

#include "model/BaseSaver.h"

// An INI-form text held in memory: sections of key=value lines. Section names
// and keys are found without regard to letter case. As text, every section is
// "[name]", its lines, and an empty line; lines end in CR LF; UTF-8 without a
// byte-order mark.
class IniDocument {
public:
    IniDocument() = default;
    // Reads fileName when it exists (an absent file gives an empty document).
    // Throws "Cannot open file" when it exists but cannot be read.
    static std::unique_ptr<IniDocument> fromFile(const QString& fileName);

    // Replaces the content with the parsed lines: each line trimmed, empty and
    // ';' lines skipped, lines before the first section ignored.
    void setLines(const QStringList& lines);
    // As setLines, for the bytes of a file (UTF-8, a byte-order mark skipped, any line break).
    void setText(const QByteArray& bytes);
    QStringList lines() const;
    void clear();

    bool hasSection(const QString& section) const { return findSection(section) != nullptr; }
    bool hasKey(const QString& section, const QString& key) const { return findLine(section, key) != nullptr; }

    // Keys and values of the section's key=value lines, in file order.
    QStringList keys(const QString& section) const;
    QStringList values(const QString& section) const;
    // The value of the key's first line.
    QString value(const QString& section, const QString& key, const QString& defaultValue) const;
    // Replaces the key's line in place, or appends it (and the section) when missing.
    void setValue(const QString& section, const QString& key, const QString& value);

    // Replaces fileName's content atomically: a failed write leaves the old
    // file as it was. The file is readable by its owner only (mode 0600).
    // Throws "Cannot create file" on failure.
    void writeToFile(const QString& fileName) const;

private:
    struct Line {
        QString key;   // empty for a line without '='
        QString value; // or the whole line, for a line without '='
        bool isPair = false;
    };
    struct Section {
        QString name;
        std::vector<Line> lines;
        QHash<QString, size_t> firstLineOfKey; // case-folded key -> index in lines

        void append(Line line);
    };

    Section* findSection(const QString& name);
    const Section* findSection(const QString& name) const;
    Section& sectionNamed(const QString& name); // found or appended
    const Line* findLine(const QString& section, const QString& key) const;

    // Lookups go through the indexes, so reading a file and each lookup cost
    // no more than the text involved, however many keys there are.
    std::vector<Section> m_sections;
    QHash<QString, size_t> m_sectionIndex; // case-folded name -> index in m_sections
};

// The section that holds the root store's values.
inline constexpr QStringView IniRootSection = u"Root";

// The typed data store kept as an INI-form file: the root's values in section
// "Root", a folder's values in the section named by its path, a string list's
// lines in the section of its path and name (s1=..., s2=...).
class tinidatasaver : public TBaseDataSaver {
public:
    tinidatasaver() = default;

    // True, or false when a value of an unknown type code was met (reported
    // to the user, the rest still written). Throws on file errors.
    bool Save() override;
    // True, or false when a value had an unknown type tag (reported to the
    // user, the rest still read). A missing file loads as empty. Throws on
    // file errors and malformed values.
    bool Load() override;
    // False at once when called on a nested store; else as Save / Load.
    bool SaveToStream(QIODevice& stream) override;
    bool LoadFromStream(QIODevice& stream) override;
    // As LoadFromStream, from a document that is already read.
    bool LoadFromDocument(IniDocument& document);

protected:
    std::unique_ptr<TBaseDataSaver> NewStore() const override;

private:
    QString SectionName() const;
    void SaveEntries(bool& result);
    void LoadKeys(bool& result);
    // Runs Save or Load on a nested store with this store's document.
    static bool DelegateTo(TBaseDataSaver* store, IniDocument* document, int depth, bool save);

    IniDocument* IniFile = nullptr; // the document of the operation in progress; borrowed by nested stores
    int Depth = 0;
    bool StreamMode = false;
};
