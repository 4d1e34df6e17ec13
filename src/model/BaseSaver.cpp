#include "model/BaseSaver.h"

#include <algorithm>

#include "model/Errors.h"
#include "model/Global.h"

namespace {

constexpr QChar PathDelimiter = u'\\';

// Folders nest no deeper than this. Nested stores are freed recursively, so a
// damaged file that names thousands of levels would exhaust the stack.
constexpr int MaxFolderDepth = 64;

const char* const NotAnIntegerOnRead = "It's not an integer \"%1\"";
const char* const NotAnIntegerOnWrite = "It's not a integer \"%1\"";
const char* const NotAFloat = "It's not a float \"%1\"";
const char* const NotAString = "It's not a string \"%1\"";
const char* const NotAStringListOnRead = "It's not a string list \"%1\"";
const char* const NotAStringListOnWrite = "It's not a stringList \"%1\"";

[[noreturn]] void raise(const char* format, const QString& argument) {
    throw VellisyncError(QString::fromLatin1(format).arg(argument));
}

void checkBareName(const QString& name) {
    if (name.contains(PathDelimiter)) {
        raise("Invalid name \"%1\"", name);
    }
}

void checkFolderDepth(int depth, const QString& path) {
    if (depth > MaxFolderDepth) {
        // Such a path is as long as the file that holds it: the message shows its start.
        constexpr qsizetype Shown = 80;
        const QString shown = path.size() > Shown ? path.left(Shown) + QStringLiteral("...") : path;
        throw VellisyncError(
            QStringLiteral("Folder \"%1\" would be nested more than %2 levels deep").arg(shown).arg(MaxFolderDepth));
    }
}

bool lessWithoutCase(const QString& a, const QString& b) {
    return QString::compare(a, b, Qt::CaseInsensitive) < 0;
}

// Splits a value path at its last backslash into the folder path and the bare name.
void splitValuePath(const QString& path, QString& folderPath, QString& bareName) {
    const qsizetype cut = path.lastIndexOf(PathDelimiter);
    folderPath = cut < 0 ? QString() : path.left(cut);
    bareName = path.mid(cut + 1);
}

} // namespace

TBaseDataSaver::~TBaseDataSaver() {
    Clear();
}

int TBaseDataSaver::IndexOf(const QString& name) const {
    // The comparison is Unicode case folding, the same in every locale, so the
    // order of a saved file does not depend on the user's language settings.
    const auto found = std::lower_bound(Items.begin(), Items.end(), name, [](const Item& item, const QString& key) {
        return lessWithoutCase(item.name, key);
    });
    if (found == Items.end() || QString::compare(found->name, name, Qt::CaseInsensitive) != 0) {
        return -1;
    }
    return int(found - Items.begin());
}

const DataEntry& TBaseDataSaver::EntryAt(int index) const {
    return *Items.at(size_t(index)).entry;
}

DataEntry* TBaseDataSaver::FindEntry(const QString& name) const {
    const int index = IndexOf(name);
    return index < 0 ? nullptr : Items[size_t(index)].entry.get();
}

int TBaseDataSaver::AddEntry(const QString& name, DataType type) {
    checkBareName(name);
    const auto place = std::lower_bound(Items.begin(), Items.end(), name, [](const Item& item, const QString& key) {
        return lessWithoutCase(item.name, key);
    });
    if (place != Items.end() && QString::compare(place->name, name, Qt::CaseInsensitive) == 0) {
        throw VellisyncError(QStringLiteral("String list does not allow duplicates"));
    }
    if (type == DataType::Folder) {
        checkFolderDepth(FolderDepth() + 1, name);
    }

    // The entry keeps the whole name (no cut to a fixed field width), so a
    // long name is written under the name it is found by and nothing is lost.
    auto entry = std::make_unique<DataEntry>();
    entry->name = name;
    entry->type = type;
    if (type == DataType::Folder) {
        entry->folderValue = NewStore();
        entry->folderValue->FileName = FileName;
        entry->folderValue->Parent = this;
        entry->folderValue->OwnEntry = entry.get();
    }
    const auto inserted = Items.insert(place, Item{name, std::move(entry)});
    return int(inserted - Items.begin());
}

void TBaseDataSaver::Clear() {
    Items.clear();
}

QString TBaseDataSaver::GetEntryName(int index) const {
    return EntryAt(index).name;
}

DataType TBaseDataSaver::GetEntryType(int index) const {
    return EntryAt(index).type;
}

TBaseDataSaver* TBaseDataSaver::AddFolder(const QString& name) {
    const int index = AddEntry(name, DataType::Folder);
    return Items[size_t(index)].entry->folderValue.get();
}

TBaseDataSaver* TBaseDataSaver::FindFolder(const QString& folderPath) {
    return OpenFolder(folderPath, false);
}

TBaseDataSaver* TBaseDataSaver::OpenFolder(const QString& folderPath, bool create) {
    // Empty levels (a leading or doubled backslash) are passed over.
    const QStringList levels = RemoveTrailingSlash(folderPath).split(PathDelimiter, Qt::SkipEmptyParts);
    if (create) {
        // Checked before the walk, so a path that is too deep creates no level at all.
        checkFolderDepth(FolderDepth() + int(levels.size()), folderPath);
    }
    TBaseDataSaver* store = this;
    for (const QString& level : levels) {
        DataEntry* entry = store->FindEntry(level);
        if (entry == nullptr) {
            if (!create) {
                return nullptr;
            }
            store = store->AddFolder(level);
        } else if (entry->type == DataType::Folder) {
            store = entry->folderValue.get();
        } else {
            return nullptr;
        }
    }
    return store;
}

int TBaseDataSaver::FolderDepth() const {
    int depth = 0;
    for (const TBaseDataSaver* store = Parent; store != nullptr; store = store->Parent) {
        ++depth;
    }
    return depth;
}

QString TBaseDataSaver::GetPath() const {
    QString path;
    for (const TBaseDataSaver* store = this; store->Parent != nullptr; store = store->Parent) {
        path = path.isEmpty() ? store->OwnEntry->name : store->OwnEntry->name + PathDelimiter + path;
    }
    return path;
}

void TBaseDataSaver::SetFileName(const QString& fileName) {
    if (fileName == FileName) {
        return;
    }
    FileName = fileName;
    for (const Item& item : Items) {
        if (item.entry->type == DataType::Folder) {
            item.entry->folderValue->SetFileName(fileName);
        }
    }
}

// --- Local values ------------------------------------------------------------

qint32 TBaseDataSaver::GetInteger(const QString& name, qint32 defaultValue) const {
    checkBareName(name);
    const DataEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        return defaultValue;
    }
    if (entry->type != DataType::Integer) {
        raise(NotAnIntegerOnRead, name);
    }
    return entry->integerValue;
}

double TBaseDataSaver::GetFloat(const QString& name, double defaultValue) const {
    checkBareName(name);
    const DataEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        return defaultValue;
    }
    if (entry->type != DataType::Float) {
        raise(NotAFloat, name);
    }
    return entry->floatValue;
}

QString TBaseDataSaver::GetString(const QString& name, const QString& defaultValue) const {
    checkBareName(name);
    const DataEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        return defaultValue;
    }
    if (entry->type != DataType::String) {
        raise(NotAString, name);
    }
    return entry->stringValue;
}

bool TBaseDataSaver::GetStringList(const QString& name, QStringList& list) const {
    checkBareName(name);
    const DataEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        return false;
    }
    if (entry->type != DataType::StringList) {
        raise(NotAStringListOnRead, name);
    }
    list = entry->stringListValue;
    return true;
}

DataEntry& TBaseDataSaver::EntryForWrite(const QString& name, DataType type, const char* typeError) {
    checkBareName(name);
    DataEntry* entry = FindEntry(name);
    if (entry == nullptr) {
        return *Items[size_t(AddEntry(name, type))].entry;
    }
    if (entry->type != type) {
        raise(typeError, name);
    }
    return *entry;
}

void TBaseDataSaver::PutInteger(const QString& name, qint32 value) {
    EntryForWrite(name, DataType::Integer, NotAnIntegerOnWrite).integerValue = value;
}

void TBaseDataSaver::PutFloat(const QString& name, double value) {
    EntryForWrite(name, DataType::Float, NotAFloat).floatValue = value;
}

void TBaseDataSaver::PutString(const QString& name, const QString& value) {
    EntryForWrite(name, DataType::String, NotAString).stringValue = value;
}

void TBaseDataSaver::PutStringList(const QString& name, const QStringList& list) {
    EntryForWrite(name, DataType::StringList, NotAStringListOnWrite).stringListValue = list;
}

// --- Path values -------------------------------------------------------------

qint32 TBaseDataSaver::ReadInteger(const QString& path, qint32 defaultValue) {
    QString folderPath, bareName;
    splitValuePath(path, folderPath, bareName);
    const TBaseDataSaver* folder = OpenFolder(folderPath, false);
    return folder == nullptr ? defaultValue : folder->GetInteger(bareName, defaultValue);
}

double TBaseDataSaver::ReadFloat(const QString& path, double defaultValue) {
    QString folderPath, bareName;
    splitValuePath(path, folderPath, bareName);
    const TBaseDataSaver* folder = OpenFolder(folderPath, false);
    return folder == nullptr ? defaultValue : folder->GetFloat(bareName, defaultValue);
}

QString TBaseDataSaver::ReadString(const QString& path, const QString& defaultValue) {
    QString folderPath, bareName;
    splitValuePath(path, folderPath, bareName);
    const TBaseDataSaver* folder = OpenFolder(folderPath, false);
    return folder == nullptr ? defaultValue : folder->GetString(bareName, defaultValue);
}

bool TBaseDataSaver::ReadStringList(const QString& path, QStringList& list) {
    QString folderPath, bareName;
    splitValuePath(path, folderPath, bareName);
    const TBaseDataSaver* folder = OpenFolder(folderPath, false);
    return folder != nullptr && folder->GetStringList(bareName, list);
}

TBaseDataSaver* TBaseDataSaver::FolderForWrite(const QString& path, QString& bareName) {
    QString folderPath;
    splitValuePath(path, folderPath, bareName);
    TBaseDataSaver* folder = OpenFolder(folderPath, true);
    if (folder == nullptr) {
        raise("Cannot write \"%1\"", path);
    }
    return folder;
}

void TBaseDataSaver::WriteInteger(const QString& path, qint32 value) {
    QString bareName;
    FolderForWrite(path, bareName)->PutInteger(bareName, value);
}

void TBaseDataSaver::WriteFloat(const QString& path, double value) {
    QString bareName;
    FolderForWrite(path, bareName)->PutFloat(bareName, value);
}

void TBaseDataSaver::WriteString(const QString& path, const QString& value) {
    QString bareName;
    FolderForWrite(path, bareName)->PutString(bareName, value);
}

void TBaseDataSaver::WriteStringList(const QString& path, const QStringList& list) {
    QString bareName;
    FolderForWrite(path, bareName)->PutStringList(bareName, list);
}
