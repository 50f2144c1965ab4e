// BUILD: key entries made in bulk from the data records. A build scans the records from its
// start point, feeds one item per record into a sort (the key value, then the record number
// big-endian, so that equal values come out in record-number order) and inserts the sorted
// items as key entries, writing the key's counts and committing every 400 dirty pages. It leaves
// a rebuild point behind from which an interrupted or failed build resumes. Dynamic indexes get
// their components from a text and their entries in a private, memory-only entry tree.
//
// The sort and the progress report belong to the driver; a build reaches them through
// BuildServices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vellum {

class TableObject;
struct KeyDescriptor;

// The sort one key's build feeds.
class BuildSort {
public:
    virtual ~BuildSort() = default;
    // Each returns 0 or the sort's error code (90, or 8 when memory ran out).
    virtual int insert(const uint8_t* item) = 0;
    virtual int finish() = 0;
    // The smallest item left in *item, nullptr when all were handed out; the bytes stay valid
    // until the next call.
    virtual int next(const uint8_t** item) = 0;
    // Why the sort failed, for the extended error.
    virtual std::string failureMessage() const = 0;
};

// What a build needs of its surroundings.
class BuildServices {
public:
    virtual ~BuildServices() = default;
    // A sort for items of itemLength bytes.
    virtual std::unique_ptr<BuildSort> newSort(size_t itemLength) = 0;
    // Called at the progress steps of a scan, after the table's build percentage was stored:
    // lets the platform run and tells whether the user cancelled the build. It may instead end
    // the build by throwing when the table was taken away meanwhile; the build holds nothing
    // that touches the table while it unwinds.
    virtual bool progressCancels() = 0;
};

// BUILDkey: builds one key (a dynamic index with its current components).
int buildKey(TableObject& table, KeyDescriptor& key, BuildServices& services);
// BUILDfile: builds every key that is not a dynamic index, in key-number order; with full
// rebuild set, the table's collation record is renewed first.
int buildFile(TableObject& table, BuildServices& services);
// PACK: BUILDfile, then the file is cut at the end of its pages. Leaves full rebuild as it is.
int packFile(TableObject& table, BuildServices& services);
// BUILDdyn and BUILDdynfilter: gives a dynamic index the components of the text and builds it,
// leaving out every record the filter (when given) answers 1 for. 76 for a text that names no
// field, or a filter that does not compile; the index then keeps its old components.
int buildDynamic(TableObject& table, KeyDescriptor& key, std::string_view components,
                 const std::optional<std::string>& filter, BuildServices& services);

}  // namespace vellum
