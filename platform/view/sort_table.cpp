// The private sort table of a header order: its declaration made from the sort columns, its
// temporary directory, the fill and build, and reading and locating through its INDEX keys.
#include "view/sort_table.h"

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <system_error>

#include "vellum/byte_order.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {

namespace {

constexpr int kPrivateMode = 0x12;  // reading and writing, others denied
constexpr uint32_t kIndexAttributes = kKeyDup | kKeyNoCase | kKeyIndex;

// A new directory under the system's temporary directory; empty when none could be made.
std::string makeDirectory() {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return {};
    std::string pattern = (base / "vellum-view-XXXXXX").string();
    return mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
}

// The sort record: Column1 to Columnn in the columns' own layout, then the primary record's
// number; the INDEX "Order" over all columns and, for more than one, "Locate" over the first.
TableDeclaration sortDeclaration(const std::vector<SortColumn>& columns, const std::string& file) {
    TableDeclaration declaration("ViewSort");
    declaration.name(file).attributes(kAttributeCreate);
    std::vector<int32_t> components;
    for (size_t i = 0; i < columns.size(); ++i) {
        const FieldDeclaration& source = *columns[i].source.declaration;
        declaration.field({
            .label = "Column" + std::to_string(i + 1),
            .type = source.type,
            .elementSize = source.elementSize,
            .places = source.places,
            .dimensions = {source.dimensions, source.dimensions + source.dimensionCount},
            .externalName = std::nullopt,
            .picture = std::nullopt,
        });
        auto number = static_cast<int32_t>(i + 1);
        components.push_back(columns[i].descending ? -number : number);
    }
    declaration.longField("Record");
    declaration.key("Order", kIndexAttributes, components);
    if (columns.size() > 1) declaration.key("Locate", kIndexAttributes, {components.front()});
    return declaration;
}

}  // namespace

SortTable::SortTable(std::vector<SortColumn> columns)
    : columns_(std::move(columns)), directory_(makeDirectory()) {
    table_ = std::make_unique<Table>(sortDeclaration(columns_, directory_ + "/sort.vlm"));
    targets_.resize(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) {
        findField(*table_, "Column" + std::to_string(i + 1), &targets_[i]);
    }
}

SortTable::~SortTable() {
    table_->close();
    table_.reset();
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
}

int SortTable::open() {
    if (directory_.empty()) return kFileSystemError;
    if (int error = table_->create(); error != 0) return error;
    if (int error = table_->open(kPrivateMode); error != 0) return error;
    table_->call(kSTREAM);
    return table_->errorCode();
}

int SortTable::add(uint32_t primaryRecord) {
    for (size_t i = 0; i < columns_.size(); ++i) {
        std::memcpy(targets_[i].bytes(), columns_[i].source.bytes(), targets_[i].size);
    }
    table_->setLong(recordField(), static_cast<int32_t>(primaryRecord));
    return table_->add();
}

int SortTable::build() {
    table_->call(kFLUSH);
    if (int error = table_->errorCode(); error != 0) return error;
    table_->call(kBUILDfile);
    return table_->errorCode();
}

int SortTable::setStart() { return table_->set(orderKey()); }

int SortTable::locate() {
    ViewField& first = targets_.front();
    std::memcpy(first.bytes(), columns_.front().source.bytes(), first.size);
    if (int error = table_->setFromBuffer(locateKey()); error != 0) return error;
    if (int error = table_->next(); error != 0) return error;
    // The found row's place in "Order": its record number, then the columns' key bytes.
    std::string found = table_->position(orderKey());
    if (found.size() < 4 + first.size) return kRecordNotFound;
    std::string start(found.size(), '\0');
    std::memcpy(start.data() + 4, found.data() + 4, first.size);
    return table_->reset(orderKey(), start);
}

int SortTable::resetAt(const std::string& position) {
    if (position.size() != 4) return kRecordNotFound;
    uint32_t record = load32be(reinterpret_cast<const uint8_t*>(position.data()));
    return table_->setPointer(orderKey(), record);
}

int SortTable::read(bool forward, uint32_t* primaryRecord) {
    int error = forward ? table_->next() : table_->previous();
    if (error == 0) {
        *primaryRecord = static_cast<uint32_t>(table_->longValue(recordField()));
    }
    return error;
}

std::string SortTable::position() { return table_->position(nullptr); }

}  // namespace vellum
