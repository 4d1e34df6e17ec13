#pragma once

#include "sync/NaiveDateTime.h"
#include "sync/RelativeName.h"

#include <QHash>
#include <QString>

#include <memory>
#include <vector>

// Size and last-write time of one listed file.
struct TFileEntry {
    qint64 Size = 0;
    NaiveDateTime Time;
    // A local file's exact modification time in nanoseconds since the epoch
    // (0 when unknown), which tells an edit from the last run's copy.
    qint64 MtimeNs = 0;
};

// An ordered list of relative file names, each with the file entry it owns.
// Items keep the order in which they were added (scan order), duplicates are
// allowed, and names compare without regard to letter case (Unicode case
// folding) and to how their accents are encoded (composed or decomposed), as
// the sync passes expect. Names enter only as RelativeName, so every name in a
// list is safe to join to a root.
class TListOfFiles {
public:
    TListOfFiles() = default;
    TListOfFiles(const TListOfFiles&) = delete;
    TListOfFiles& operator=(const TListOfFiles&) = delete;
    ~TListOfFiles() = default;

    // Appends a file with a new entry; returns its index (the previous count).
    int AddFile(const RelativeName& name, qint64 size, NaiveDateTime time, qint64 mtimeNs = 0);
    // Appends a name without an entry.
    int Add(const RelativeName& name);
    // Appends a name with an entry that the list takes over (may be empty).
    int AddObject(const RelativeName& name, std::unique_ptr<TFileEntry> entry);
    // Frees every entry and removes every item.
    void Clear();
    // Frees the entry of the item at index (if it has one) and removes the item.
    void Delete(int index);

    int Count() const { return int(m_items.size()); }
    const QString& Strings(int index) const { return m_items.at(size_t(index)).name; }
    // Replaces the text of an item; its entry stays with it.
    void SetString(int index, const RelativeName& name) { m_items.at(size_t(index)).name = name.text(); }
    // The entry of the item at index, or nullptr for an item added without one.
    const TFileEntry* Objects(int index) const { return m_items.at(size_t(index)).entry.get(); }
    // The Time of the item's entry; the item must have one.
    NaiveDateTime GetDateTime(int index) const;
    // Replaces the Time of the item's entry (an item without one is left alone).
    void SetDateTime(int index, NaiveDateTime time);
    // Index of the first item whose name matches name (nameMatchKey), or -1.
    int IndexOf(const QString& name) const;

private:
    struct Item {
        QString name;
        std::unique_ptr<TFileEntry> entry;
    };
    std::vector<Item> m_items;
};

// Resets the smaller calendar parts of a date-time: level 0 milliseconds,
// 1 also seconds, 2 also minutes, 3 also hours, 4 also the day (to 1),
// 5 also the month (to 1). Any other level returns the value unchanged.
NaiveDateTime TruncateDateTime(int level, NaiveDateTime value);

// A lookup table over a list's names that answers exactly as IndexOf does
// (first match by nameMatchKey) in constant time. Built once per pass; it
// does not follow later changes of the list.
class FileNameIndex {
public:
    explicit FileNameIndex(const TListOfFiles& list);
    int IndexOf(const QString& name) const;
    // The same by a name's nameMatchKey, and the key of the list's item at
    // index: for callers that look up many names, each key made once.
    int IndexOfKey(const QString& key) const { return m_firstIndex.value(key, -1); }
    const QString& KeyAt(int index) const { return m_keys.at(size_t(index)); }
    int Count() const { return int(m_keys.size()); }

private:
    QHash<QString, int> m_firstIndex;
    std::vector<QString> m_keys;
};
