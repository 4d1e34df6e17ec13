#include "sync/ListOfFiles.h"

int TListOfFiles::AddFile(const RelativeName& name, qint64 size, NaiveDateTime time, qint64 mtimeNs) {
    auto entry = std::make_unique<TFileEntry>();
    entry->Size = size;
    entry->Time = time;
    entry->MtimeNs = mtimeNs;
    return AddObject(name, std::move(entry));
}

int TListOfFiles::Add(const RelativeName& name) {
    return AddObject(name, nullptr);
}

int TListOfFiles::AddObject(const RelativeName& name, std::unique_ptr<TFileEntry> entry) {
    m_items.push_back(Item{name.text(), std::move(entry)});
    return Count() - 1;
}

void TListOfFiles::Clear() {
    m_items.clear();
}

void TListOfFiles::Delete(int index) {
    m_items.erase(m_items.begin() + index);
}

NaiveDateTime TListOfFiles::GetDateTime(int index) const {
    const TFileEntry* entry = Objects(index);
    Q_ASSERT(entry);
    return entry ? entry->Time : NaiveDateTime();
}

void TListOfFiles::SetDateTime(int index, NaiveDateTime time) {
    if (TFileEntry* entry = m_items.at(size_t(index)).entry.get())
        entry->Time = time;
}

int TListOfFiles::IndexOf(const QString& name) const {
    const QString key = nameMatchKey(name);
    for (int i = 0; i < Count(); ++i) {
        if (nameMatchKey(m_items[size_t(i)].name) == key)
            return i;
    }
    return -1;
}

NaiveDateTime TruncateDateTime(int level, NaiveDateTime value) {
    if (level < 0 || level > 5)
        return value;
    // Up to whole days the count of milliseconds from a midnight cuts
    // exactly (rounding down, also before 1899); decisions do this for every
    // file of a tree, often several times.
    constexpr qint64 unitOfLevel[] = {1'000, 60'000, 3'600'000, 86'400'000};
    if (level <= 3) {
        const qint64 unit = unitOfLevel[level];
        const qint64 msecs = value.msecs();
        const qint64 remainder = ((msecs % unit) + unit) % unit;
        return NaiveDateTime::fromMSecs(msecs - remainder);
    }
    QDate date = value.date();
    const QTime time = value.time();
    int hour = time.hour(), minute = time.minute(), second = time.second();
    int day = date.day(), month = date.month();
    // Each level resets one more part than the level below it.
    second = level >= 1 ? 0 : second;
    minute = level >= 2 ? 0 : minute;
    hour = level >= 3 ? 0 : hour;
    day = level >= 4 ? 1 : day;
    month = level >= 5 ? 1 : month;
    return NaiveDateTime::fromParts(date.year(), month, day, hour, minute, second, 0);
}

FileNameIndex::FileNameIndex(const TListOfFiles& list) {
    m_firstIndex.reserve(list.Count());
    m_keys.reserve(size_t(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        m_keys.push_back(nameMatchKey(list.Strings(i)));
    // Backwards, so that of names with one key the first one's index stays.
    for (int i = list.Count() - 1; i >= 0; --i)
        m_firstIndex.insert(m_keys[size_t(i)], i);
}

int FileNameIndex::IndexOf(const QString& name) const {
    return m_firstIndex.value(nameMatchKey(name), -1);
}
