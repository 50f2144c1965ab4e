// The file manager of one table: it opens the table's file on first use (lazy open) with the
// open sequence the viewer relies on, creating a missing file, retrying a denied open after a
// lock recovery, falling back to read-only access and rebuilding invalid keys, and reports every
// failure through the error manager under the table's label.
#pragma once

#include <string>

#include "dictionary/error_manager.h"
#include "filelayer/table.h"

namespace vellum::viewer {

// Open modes: the access in the low nibble, the sharing in the high one.
inline constexpr int kReadWriteDenyNone = 0x42;
inline constexpr int kAccessMask = 0x0F;
inline constexpr int kReadWriteDenyAll = 0x12;
// The lock-recover time sent before the retry of a denied open.
inline constexpr int kLockRecoverTime = 10;

class FileManager {
  public:
    // name is the one used in messages (the table label).
    FileManager(std::string name, Table& table, ErrorManager& errors);

    const std::string& name() const { return name_; }
    // The mode of the next open; read-only after a fallback.
    int openMode() const { return openMode_; }
    bool isFileOpen() const { return fileOpen_; }

    // Counts a user of the manager; the file itself opens on first use.
    void open();
    // Forgets a user; the last one closes the file.
    void close();
    // Makes the file ready for a read: 0 when it is open or opens now; otherwise the error,
    // already shown, or 37 without a message while nobody has opened the manager.
    int use();
    // Closes the file, whoever still counts as a user.
    void kill();

  private:
    int openFile();
    // Rebuilds the keys of the file under exclusive access; 0 or the error, shown.
    int rebuildKeys();
    // Shows message with the manager's name and the error the last call of the table left.
    void report(const MessageText& message);

    std::string name_;
    Table& table_;
    ErrorManager& errors_;
    int openMode_ = kReadWriteDenyNone;
    unsigned users_ = 0;
    bool fileOpen_ = false;
};

}  // namespace vellum::viewer
