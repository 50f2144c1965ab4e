// Builds run at once or deferred, and BUILDevent with its progress events.
#include "driver/deferred_build.h"

#include <memory>
#include <utility>

#include "driver/build_sort.h"
#include "driver/engine_locks.h"
#include "driver/state_rules.h"
#include "tablestore/key_build.h"
#include "tablestore/table_object.h"
#include "vellum/error_codes.h"
#include "vellum/file_layer_services.h"
#include "vellum/operation_codes.h"

namespace vellum {

namespace {

constexpr const char* kTakenAwayMessage =
    "BUILD abandoned: the table was closed during a progress event";

// Thrown through the table store's build when a progress event closed or destroyed the table.
struct BuildTakenAway {};

class SorterAdapter final : public BuildSort {
public:
    explicit SorterAdapter(size_t itemLength) : sorter_(itemLength) {}
    int insert(const uint8_t* item) override { return sorter_.insert(item); }
    int finish() override { return sorter_.finish(); }
    int next(const uint8_t** item) override { return sorter_.next(item); }
    std::string failureMessage() const override { return sorter_.failure().message; }

private:
    Sorter sorter_;
};

// Gives up the engine lock the call holds for as long as it lives.
class EngineLockGivenUp {
public:
    EngineLockGivenUp() { engineLock().unlock(); }
    ~EngineLockGivenUp() { engineLock().lock(); }
    EngineLockGivenUp(const EngineLockGivenUp&) = delete;
    EngineLockGivenUp& operator=(const EngineLockGivenUp&) = delete;
};

class DriverBuildServices final : public BuildServices {
public:
    DriverBuildServices(FileControlBlock& block, TableObject& table)
        : block_(block), table_(table) {}

    std::unique_ptr<BuildSort> newSort(size_t itemLength) override {
        return std::make_unique<SorterAdapter>(itemLength);
    }

    bool progressCancels() override {
        if ((table_.stateWord & kStateEventBuild) == 0) return false;
        int answer;
        {
            // The window's code may call the engine meanwhile, from this thread or others.
            EngineLockGivenUp unlocked;
            answer = fileLayer().sendWindowEvent(kBuildProgressEvent, 0);
        }
        // A CLOSE clears the whole state word; a DESTROY takes the table object off the block.
        if (block_.tableObject != &table_ || (table_.stateWord & kStateEventBuild) == 0) {
            throw BuildTakenAway();
        }
        return answer != 0;
    }

private:
    FileControlBlock& block_;
    TableObject& table_;
};

int runBuild(FileControlBlock& block, TableObject& table, int operation, KeyDescriptor* key,
             const std::optional<std::string>& components,
             const std::optional<std::string>& filter) {
    DriverBuildServices services(block, table);
    switch (operation) {
        case kBUILDfile:
            return buildFile(table, services);
        case kPACK:
            return packFile(table, services);
        case kBUILDkey:
            return buildKey(table, *key, services);
        case kBUILDdyn:
            return buildDynamic(table, *key, components.value_or(std::string()), std::nullopt,
                                services);
        default:
            return buildDynamic(table, *key, components.value_or(std::string()), filter, services);
    }
}

bool takesKey(int operation) {
    return operation != kBUILDfile && operation != kPACK;
}

}  // namespace

int runBuildOperation(FileControlBlock& block, TableObject& table, int operation,
                      KeyDescriptor* key, const std::optional<std::string>& components,
                      const std::optional<std::string>& filter) {
    if ((table.stateWord & kStateBuildRequest) == 0) {
        return runBuild(block, table, operation, key, components, filter);
    }
    table.stateWord &= ~uint32_t{kStateBuildRequest};
    TableObject::PendingBuild pending;
    pending.operation = operation;
    if (takesKey(operation)) pending.key = key->number;
    if (operation == kBUILDdyn || operation == kBUILDdynfilter) pending.components = components;
    if (operation == kBUILDdynfilter) pending.filter = filter;
    table.pendingBuild = std::move(pending);
    fileLayer().postWindowMessage(kDeferredBuildMessage, 0, reinterpret_cast<uintptr_t>(&block));
    return 0;
}

int runBuildEvent(FileControlBlock& block, TableObject& table) {
    table.stateWord |= kStateEventBuild;
    TableObject::PendingBuild pending = std::exchange(table.pendingBuild, {});
    if (pending.operation == 0) return 0;
    // The key by its number: the descriptors may have been rebuilt since the deferral.
    const auto& keys = table.definition.keys;
    KeyDescriptor* key =
        pending.key && *pending.key < keys.size() ? keys[*pending.key].get() : nullptr;
    int result = kInvalidKeyFile;
    if (key != nullptr || !pending.key) {
        try {
            result =
                runBuild(block, table, pending.operation, key, pending.components, pending.filter);
        } catch (const BuildTakenAway&) {
            fileLayer().postDriverError(std::to_string(kFileSystemError), kTakenAwayMessage);
            result = kFileSystemError;
        }
    }
    endEventBuild(block, result);
    return result;
}

void endEventBuild(FileControlBlock& block, int error) {
    if (error != 0 && error != -1) fileLayer().postError(error, &block);
    fileLayer().sendWindowEvent(kBuildFinishedEvent, 1);
}

}  // namespace vellum
