// The operations on whole tables: OPEN, CREATE, CLOSE, REMOVE, RENAME, COPY and EMPTY, and the
// listing of the table names of a file.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "pagestore/open_mode.h"
#include "pagestore/page_tree.h"
#include "tablestore/collation.h"
#include "tablestore/count_records.h"
#include "tablestore/memo_chunks.h"
#include "tablestore/table_address.h"
#include "tablestore/table_object.h"
#include "vellum/byte_order.h"
#include "vellum/entry.h"
#include "vellum/error_codes.h"

namespace vellum {

namespace {

constexpr int kInspectMode = 0x40;
constexpr int kChangeMode = 0x42;
constexpr int kCreateMode = 0x142;

// A file never committed holds no entries; searching it in read mode would have to create its
// root first.
bool holdsNothing(PageFile& file) { return file.header().changeCounter() == 0; }

// The first entry whose key is not below key, or none.
Entry* firstEntryFrom(PageFile& file, const std::vector<uint8_t>& key) {
    if (holdsNothing(file)) return nullptr;
    if (Entry* exact = file.findEntry(key)) return exact;
    OwnedEntry probe(newEntry(key));
    return file.findNextEntry(probe.get());
}

bool startsWith(const Entry* entry, const std::vector<uint8_t>& prefix) {
    return entry != nullptr && entry->keyLength >= prefix.size() &&
           std::memcmp(entry->bytes(), prefix.data(), prefix.size()) == 0;
}

}  // namespace

// Opening -----------------------------------------------------------------------------------

int TableObject::open(int mode) {
    if ((mode & kModeAccessMask) == 1) return kAccessDenied;
    for (size_t slash = driverOptions.find('/'); slash != std::string::npos;
         slash = driverOptions.find('/', slash + 1)) {
        readSwitch(driverOptions.substr(slash + 1));
    }
    int result = openCore(mode, kOpenPlain);
    if (result != 0) close();
    return result;
}

int TableObject::openCore(int mode, unsigned request) {
    TableAddress split;
    if (int result = splitTableAddress(address, &split); result != 0) return result;
    status |= 0x01;
    if (int result = registerFile(split.fileName, mode, owner, isThreadInstance(), &file_);
        result != 0) {
        file_ = nullptr;
        status &= ~0x01u;
        return result;
    }
    tableName = split.tableName;
    openMode = mode;
    PageFile& file = *pageFile();
    bool creating = (mode & kModeOwnOpen) != 0;
    if (creating || (request & kOpenForWriting)) file.beginWrite();
    insertCursor = std::make_unique<EntryCursor>(&file);

    Entry* nameRecord = holdsNothing(file) ? nullptr : file.findEntry(tableNameKey(tableName));
    bool found = nameRecord != nullptr && nameRecord->totalLength - nameRecord->keyLength == 4;
    TableNumber previous{};
    if (found) std::copy_n(nameRecord->data().begin(), 4, previous.begin());
    // A sound name record of a table that is opened, not created, goes only once the table
    // has opened: a failed REMOVE or RENAME must not lose the name of a table it leaves.
    if (nameRecord != nullptr && (request & kOpenDropName) && (creating || !found)) {
        file.removeEntry(nameRecord);
    }

    if (creating) {
        if (found) removeEntriesOf(file, previous);
        tableNumber = file.nextRecordNumber();
        file.insertEntry(newEntry(tableNameKey(tableName), tableNumber));
        writeFreshTable(file);
        std::vector<uint8_t> collation = builtInCollationRecord((attributes & kAttributeOem) != 0);
        std::vector<uint8_t> key = tableKey(tableNumber, kRecordTypeCollation);
        key.push_back(0x01);
        file.insertEntry(newEntry(key, collation));
        loadCollation(collation, &this->collation);
    } else {
        if (!found) return kFileNotFound;
        tableNumber = previous;
        bool declared = (block != nullptr && block->recordBuffer != nullptr &&
                         block->recordLength != 0) ||
                        !definition.memos.empty();
        int result = declared ? checkDefinition(file, tableNumber, definition, decimalCheck)
                              : loadDefinition(file, tableNumber, this, &definition);
        if (result != 0) return result;
        if (request & kOpenDropName) {
            if (Entry* name = file.findEntry(tableNameKey(tableName))) file.removeEntry(name);
        }
        std::vector<uint8_t> collationKey = tableKey(tableNumber, kRecordTypeCollation);
        collationKey.push_back(0x01);
        Entry* stored = file.findEntry(collationKey);
        // A table without a collation record collates with the process's current tables and
        // its declared OEM flag.
        if (stored == nullptr || !loadCollation(stored->data(), &collation)) {
            collation = builtInCollation((attributes & kAttributeOem) != 0);
        }
    }
    savedImage.assign(definition.recordLength, 0);
    workImage.assign(definition.recordLength, 0);
    resetRecordState();
    forgetPosition();
    privateTrees.clear();
    privateTrees.resize(definition.keys.size());
    fullName = fullTableName(split);
    return 0;
}

// A new or emptied table: its definition and count records with both values 0.
void TableObject::writeFreshTable(PageFile& file) {
    writeDefinition(file, tableNumber, definition);
    const std::vector<uint8_t> zeros(8, 0);
    file.insertEntry(newEntry(countRecordKey(tableNumber, kRecordTypeData), zeros));
    for (const auto& key : definition.keys) {
        if (key->attributes & kKeyDescriptorDynamic) continue;
        file.insertEntry(
            newEntry(countRecordKey(tableNumber, static_cast<uint8_t>(key->number)), zeros));
    }
}

// Deletes every entry of a table number, walking back from its last entry.
void TableObject::removeEntriesOf(PageFile& file, const TableNumber& table) {
    std::vector<uint8_t> prefix(table.begin(), table.end());
    std::vector<uint8_t> after = prefix;
    after.push_back(0xFF);
    after.push_back(0xFF);
    while (Entry* last = file.findPreviousEntry(after)) {
        if (!startsWith(last, prefix)) break;
        std::vector<uint8_t> key(last->key().begin(), last->key().end());
        file.removeEntry(last);
        after = key;
    }
}

// Closing -----------------------------------------------------------------------------------

int TableObject::close() {
    if (!isOpen()) return 0;
    status &= ~0x01u;
    savedImage.clear();
    workImage.clear();
    int result = 0;
    if (PageFile* file = pageFile()) {
        if (damageCode != 0) {
            file->releaseLocks(load32be(tableNumber.data()));
            damageCode = 0;
        } else {
            result = file->commit();
            file->truncate();
        }
    }
    for (auto& cursor : countCursors) cursor.reset();
    insertCursor.reset();
    privateTrees.clear();
    for (const auto& key : definition.keys) {
        if (key->attributes & kKeyDescriptorDynamic) key->built = false;
    }
    resetRecordState();
    forgetPosition();
    if (file_ != nullptr) releaseFile(file_);
    file_ = nullptr;
    tableNumber = {};
    return result;
}

// Creating, removing, emptying ------------------------------------------------------------

int TableObject::create() {
    int result = openCore(kCreateMode, kOpenDropName);
    int closed = close();
    return result != 0 ? result : closed;
}

int TableObject::remove() {
    int result = openCore(kChangeMode, kOpenForWriting | kOpenDropName);
    // A file that could not be registered at all has nothing to remove.
    if (result == kFileSystemError && pageFile() != nullptr) result = 0;
    if (result == 0) {
        PageFile& file = *pageFile();
        Entry* anyName = firstEntryFrom(file, {kTableNameRecord});
        if (anyName != nullptr && anyName->keyLength > 0 && anyName->bytes()[0] == kTableNameRecord) {
            removeEntriesOf(file, tableNumber);
        } else {
            result = file.deleteFile();
        }
    }
    int closed = close();
    return result != 0 ? result : closed;
}

int TableObject::empty() {
    PageFile& file = *pageFile();
    file.beginWrite();
    removeEntriesOf(file, tableNumber);
    writeFreshTable(file);
    return 0;
}

// Renaming and copying ----------------------------------------------------------------------

int TableObject::renameOrCopy(const std::string& target, bool rename) {
    // The table part of the target is a name of the file and goes to upper case; the file part
    // keeps its letters, because names of files differ by case here.
    bool targetNamesTable = target.find("\\!") != std::string::npos;
    if (!targetNamesTable && address.find("\\!") == std::string::npos) {
        TableAddress source;
        TableAddress destination;
        if (splitTableAddress(address, &source) == 0 &&
            splitTableAddress(target, &destination) == 0) {
            namespace fs = std::filesystem;
            std::error_code error;
            fs::path to = fs::is_directory(target, error)
                              ? fs::path(target) / fs::path(source.fileName).filename()
                              : fs::path(destination.fileName);
            if (rename) {
                fs::rename(source.fileName, to, error);
            } else {
                fs::copy_file(source.fileName, to, fs::copy_options::overwrite_existing, error);
            }
            if (!error) return 0;
        }
    }

    TableAddress destination;
    if (int result = splitTableAddress(target, &destination); result != 0) return result;
    // A target file that this call creates is deleted again when there is no source to copy:
    // a refused COPY or RENAME leaves nothing behind.
    std::error_code probeError;
    bool targetExisted = findOpenFile(destination.fileName, isThreadInstance()) != nullptr ||
                         std::filesystem::exists(destination.fileName, probeError);
    OpenFile* targetFile = nullptr;
    if (int result = registerFile(destination.fileName, kCreateMode, owner, isThreadInstance(),
                                  &targetFile);
        result != 0) {
        return result;
    }
    PageFile& to = *targetFile->file;
    to.beginWrite();
    bool replacedTarget = false;
    if (Entry* existing = holdsNothing(to) ? nullptr
                                            : to.findEntry(tableNameKey(destination.tableName))) {
        if (rename) {
            releaseFile(targetFile);
            return kAccessDenied;
        }
        TableNumber replaced{};
        if (existing->totalLength - existing->keyLength == 4) {
            std::copy_n(existing->data().begin(), 4, replaced.begin());
        }
        to.removeEntry(existing);
        removeEntriesOf(to, replaced);
        replacedTarget = true;
    }

    int result = openCore(kChangeMode, rename ? (kOpenForWriting | kOpenDropName) : kOpenForWriting);
    if (result != 0) {
        // Without a source there is nothing to replace the target's table with: forget its
        // removal before anything commits it (closing the source commits a shared file). A
        // file enlisted in a transaction keeps its changes for the transaction to settle.
        if (replacedTarget && !to.isEnlisted()) to.discard();
        close();
        if (!targetExisted) to.deleteFile();
        releaseFile(targetFile);
        return result;
    }
    PageFile& from = *pageFile();
    if (rename && &from == &to) {
        to.insertEntry(newEntry(tableNameKey(destination.tableName), tableNumber));
    } else {
        TableNumber number = to.nextRecordNumber();
        uint32_t base = load32be(to.nextRecordNumber().data());
        uint32_t highest = base;
        auto renumber = [&](uint8_t* bytes) {
            uint32_t moved = base + load32be(bytes);
            store32be(bytes, moved);
            highest = std::max(highest, moved);
        };
        std::vector<uint8_t> prefix(tableNumber.begin(), tableNumber.end());
        std::vector<uint8_t> position = prefix;
        for (Entry* entry = firstEntryFrom(from, position); startsWith(entry, prefix);) {
            Entry* copy = copyEntry(*entry);
            std::copy(number.begin(), number.end(), copy->bytes());
            uint8_t type = copy->keyLength > 4 ? copy->bytes()[4] : 0;
            size_t dataLength = copy->totalLength - copy->keyLength;
            uint8_t* data = copy->bytes() + copy->keyLength;
            if ((type == kRecordTypeData || type == kRecordTypeMemo) && copy->keyLength >= 9) {
                renumber(copy->bytes() + 5);
            } else if (type <= 0xEF) {
                if (dataLength == 4) {
                    renumber(data);
                } else if (copy->keyLength >= 9) {
                    renumber(copy->bytes() + copy->keyLength - 4);
                }
            } else if (type == kRecordTypeCount && dataLength == 8) {
                uint32_t second = load32le(data + 4);
                if (second != 0) store32le(data + 4, second + base);
            }
            position.assign(entry->key().begin(), entry->key().end());
            if (rename) from.removeEntry(entry);
            to.insertEntry(copy);
            OwnedEntry probe(newEntry(position));
            entry = from.findNextEntry(probe.get());
        }
        uint8_t counter[4];
        store32be(counter, highest);
        to.setRecordNumber(counter);
        to.insertEntry(newEntry(tableNameKey(destination.tableName), number));
    }
    result = to.commit();
    if (result != 0 && &from != &to) from.discard();
    close();
    releaseFile(targetFile);
    return result;
}

// Table names -------------------------------------------------------------------------------

std::optional<std::string> nextTableNameIn(PageFile& file, const std::string& name) {
    if (holdsNothing(file)) return std::nullopt;
    OwnedEntry probe(newEntry(tableNameKey(name)));
    Entry* next = file.findNextEntry(probe.get());
    if (next == nullptr || next->keyLength <= 1 || next->bytes()[0] != kTableNameRecord) {
        return std::nullopt;
    }
    return std::string(reinterpret_cast<const char*>(next->bytes()) + 1, next->keyLength - 1u);
}

std::vector<std::string> tableNamesIn(PageFile& file) {
    std::vector<std::string> names;
    for (auto name = nextTableNameIn(file, ""); name; name = nextTableNameIn(file, *name)) {
        names.push_back(*name);
    }
    return names;
}

std::optional<std::string> TableObject::nextTableName(const std::string& name) {
    PageFile* file = pageFile();
    return file != nullptr ? nextTableNameIn(*file, name) : std::nullopt;
}

}  // namespace vellum
