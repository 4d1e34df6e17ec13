#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class TBaseDataSaver;

// Type code of a stored value (one byte).
enum class DataType : quint8 {
    Integer = 0,
    Float = 1,
    String = 2,
    StringList = 3,
    Folder = 4,
};

// One named value of a store. The entry owns its value; only the member that
// matches type is used.
struct DataEntry {
    QString name;
    DataType type = DataType::Integer;
    qint32 integerValue = 0;
    double floatValue = 0.0;
    QString stringValue;
    QStringList stringListValue;
    std::unique_ptr<TBaseDataSaver> folderValue;
};

// An in-memory store of named, typed values, nested in folders. Names are
// unique and found without regard to letter case; an entry keeps the letter
// case it was created with. Paths join folder names and the value's name with
// backslashes (Folder\Sub\Kind). Every failure throws VellisyncError with the
// message the user sees, and leaves the store as it was.
//
// Derived classes supply the medium: the four persistence operations and
// NewStore, which makes the nested stores of FOLDER values.
class TBaseDataSaver {
public:
    TBaseDataSaver() = default;
    virtual ~TBaseDataSaver();
    TBaseDataSaver(const TBaseDataSaver&) = delete;
    TBaseDataSaver& operator=(const TBaseDataSaver&) = delete;

    // Writes the whole store to the medium named by FileName.
    virtual bool Save() = 0;
    // Reads values from that medium into the store (adding to what it holds).
    virtual bool Load() = 0;
    virtual bool SaveToStream(QIODevice& stream) = 0;
    virtual bool LoadFromStream(QIODevice& stream) = 0;

    // --- Entries ----------------------------------------------------------

    // Creates an entry with the initial value of its type and returns its index.
    // Throws on a name with a backslash, on a name the store holds already and
    // on a folder that would be nested more than 64 levels deep.
    int AddEntry(const QString& name, DataType type);
    // Removes every entry, freeing nested stores.
    void Clear();
    int Count() const { return int(Items.size()); }
    QString GetEntryName(int index) const;
    DataType GetEntryType(int index) const;
    // Adds a FOLDER entry and returns its nested store.
    TBaseDataSaver* AddFolder(const QString& name);
    // The nested store at folderPath, or null when a level is missing or not a folder.
    TBaseDataSaver* FindFolder(const QString& folderPath);
    // Walks folderPath from this store, creating missing levels when create is
    // set. Null when a level is not a folder (or missing and create is false).
    TBaseDataSaver* OpenFolder(const QString& folderPath, bool create);
    // The number of folders above this store; 0 for the root.
    int FolderDepth() const;
    // This store's folder path from the root; empty for the root.
    QString GetPath() const;
    // Sets the file name of this store and of every nested store.
    void SetFileName(const QString& fileName);
    const QString& GetFileName() const { return FileName; }
    TBaseDataSaver* GetParent() const { return Parent; }

    // --- Local values: a bare name, directly in this store ----------------

    qint32 GetInteger(const QString& name, qint32 defaultValue) const;
    double GetFloat(const QString& name, double defaultValue) const;
    QString GetString(const QString& name, const QString& defaultValue) const;
    // Replaces list's lines with the stored ones; false (list untouched) when missing.
    bool GetStringList(const QString& name, QStringList& list) const;
    void PutInteger(const QString& name, qint32 value);
    void PutFloat(const QString& name, double value);
    void PutString(const QString& name, const QString& value);
    void PutStringList(const QString& name, const QStringList& list);

    // --- Path values: the interface for users of the store ----------------

    // Reads give the default (ReadStringList: false) when a folder or the value is missing.
    qint32 ReadInteger(const QString& path, qint32 defaultValue);
    double ReadFloat(const QString& path, double defaultValue);
    QString ReadString(const QString& path, const QString& defaultValue);
    bool ReadStringList(const QString& path, QStringList& list);
    // Writes create missing folders; throws "Cannot write" when a level is not a folder.
    void WriteInteger(const QString& path, qint32 value);
    void WriteFloat(const QString& path, double value);
    void WriteString(const QString& path, const QString& value);
    void WriteStringList(const QString& path, const QStringList& list);

protected:
    // A new, empty store of the same class, for a FOLDER value.
    virtual std::unique_ptr<TBaseDataSaver> NewStore() const = 0;

    struct Item {
        QString name; // full name, as created
        std::unique_ptr<DataEntry> entry;
    };

    // Index of name, or -1.
    int IndexOf(const QString& name) const;
    const DataEntry& EntryAt(int index) const;
    DataEntry* FindEntry(const QString& name) const;
    DataEntry& EntryForWrite(const QString& name, DataType type, const char* typeError);
    TBaseDataSaver* FolderForWrite(const QString& path, QString& bareName);

    // Sorted by name without regard to letter case.
    std::vector<Item> Items;
    QString FileName;
    TBaseDataSaver* Parent = nullptr; // the store holding this one; not owned
    DataEntry* OwnEntry = nullptr;    // the entry in Parent that holds this store; not owned
};
