// The key-build sorter: the heap's growth, sorted output against std::sort for several item
// lengths, the spill into a temporary "TMP..." file in TMPDIR once a run reaches 1000000 bytes,
// the merge of several runs, and failures of the temporary file injected through the file
// system, which must fail the sort with 90 and leave no file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "driver/build_sort.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"
#include "vellum/byte_order.h"
#include "vellum/error_codes.h"

namespace vellum {
namespace {

// Points TMPDIR somewhere for the lifetime of the object, then restores it.
class ScopedTmpDir {
public:
    explicit ScopedTmpDir(const std::string& path) {
        if (const char* old = std::getenv("TMPDIR")) saved_ = old;
        setenv("TMPDIR", path.c_str(), 1);
    }
    ~ScopedTmpDir() {
        if (saved_) {
            setenv("TMPDIR", saved_->c_str(), 1);
        } else {
            unsetenv("TMPDIR");
        }
    }
    ScopedTmpDir(const ScopedTmpDir&) = delete;
    ScopedTmpDir& operator=(const ScopedTmpDir&) = delete;

private:
    std::optional<std::string> saved_;
};

std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

const uint8_t* bytesAt(const std::string& bytes, size_t offset) {
    return reinterpret_cast<const uint8_t*>(bytes.data()) + offset;
}

// count items of length bytes, flat, in random order: a key of length - 4 bytes whose first two
// bytes come from a few values on both sides of 0x80 (so many keys are equal and signed order
// would differ), then a distinct big-endian record number.
std::vector<uint8_t> makeItems(size_t length, size_t count, uint32_t seed) {
    static constexpr uint8_t kKeyBytes[] = {0x00, 0x01, 0x41, 0x7F, 0x80, 0xC3, 0xFF};
    std::mt19937 random(seed);
    std::uniform_int_distribution<size_t> pick(0, sizeof kKeyBytes - 1);
    std::vector<uint32_t> recordNumbers(count);
    std::iota(recordNumbers.begin(), recordNumbers.end(), 1u);
    std::shuffle(recordNumbers.begin(), recordNumbers.end(), random);
    std::vector<uint8_t> items(length * count);
    size_t keyLength = length - 4;
    for (size_t i = 0; i < count; ++i) {
        uint8_t* item = items.data() + i * length;
        for (size_t k = 0; k < keyLength; ++k) {
            item[k] = k < 2 ? kKeyBytes[pick(random)] : static_cast<uint8_t>(0x20 + k % 90);
        }
        uint32_t record = recordNumbers[i];
        item[keyLength] = static_cast<uint8_t>(record >> 24);
        item[keyLength + 1] = static_cast<uint8_t>(record >> 16);
        item[keyLength + 2] = static_cast<uint8_t>(record >> 8);
        item[keyLength + 3] = static_cast<uint8_t>(record);
    }
    return items;
}

// The items in ascending unsigned byte order, as std::sort puts them.
std::vector<uint8_t> sortedItems(const std::vector<uint8_t>& items, size_t length) {
    std::vector<const uint8_t*> order(items.size() / length);
    for (size_t i = 0; i < order.size(); ++i) order[i] = items.data() + i * length;
    std::sort(order.begin(), order.end(), [length](const uint8_t* a, const uint8_t* b) {
        return std::lexicographical_compare(a, a + length, b, b + length);
    });
    std::vector<uint8_t> flat;
    flat.reserve(items.size());
    for (const uint8_t* item : order) flat.insert(flat.end(), item, item + length);
    return flat;
}

struct Outcome {
    int insertError = 0;
    int finishError = 0;
    int nextError = 0;
    std::vector<uint8_t> output;
};

// Inserts, finishes and reads out; stops at the first error. afterInsert runs once all items
// are in, while the sorter still holds them.
Outcome runSort(Sorter& sorter, const std::vector<uint8_t>& items,
                const std::function<void()>& afterInsert = {}) {
    Outcome outcome;
    size_t length = sorter.itemLength();
    for (size_t offset = 0; offset < items.size(); offset += length) {
        outcome.insertError = sorter.insert(items.data() + offset);
        if (outcome.insertError != 0) return outcome;
    }
    if (afterInsert) afterInsert();
    outcome.finishError = sorter.finish();
    if (outcome.finishError != 0) return outcome;
    for (;;) {
        const uint8_t* item = nullptr;
        outcome.nextError = sorter.next(&item);
        if (outcome.nextError != 0) {
            EXPECT_EQ(item, nullptr);
            return outcome;
        }
        if (item == nullptr) return outcome;
        outcome.output.insert(outcome.output.end(), item, item + length);
    }
}

int firstError(const Outcome& outcome) {
    if (outcome.insertError != 0) return outcome.insertError;
    if (outcome.finishError != 0) return outcome.finishError;
    return outcome.nextError;
}

// ---- The heap ----

TEST(SortHeapTest, CapacityGrowsToTwicePlusOne) {
    SortHeap<int, std::less<int>> heap(std::less<int>{});
    EXPECT_EQ(heap.capacity(), 0u);
    std::vector<size_t> capacities;
    for (int i = 0; i < 31; ++i) {
        ASSERT_TRUE(heap.push(100 - i));
        if (capacities.empty() || capacities.back() != heap.capacity()) {
            capacities.push_back(heap.capacity());
        }
    }
    EXPECT_EQ(capacities, (std::vector<size_t>{1, 3, 7, 15, 31}));
    ASSERT_TRUE(heap.push(5));
    EXPECT_EQ(heap.capacity(), 63u);
    std::vector<int> out;
    while (!heap.empty()) out.push_back(heap.pop());
    EXPECT_TRUE(std::is_sorted(out.begin(), out.end()));
    EXPECT_EQ(out.size(), 32u);
}

TEST(SortHeapTest, CapacityStopsAtTheLimit) {
    SortHeap<int, std::less<int>> heap(std::less<int>{}, 10);
    for (int i = 0; i < 10; ++i) ASSERT_TRUE(heap.push(i % 4));
    EXPECT_EQ(heap.capacity(), 10u);
    EXPECT_TRUE(heap.full());
    EXPECT_FALSE(heap.push(1));
    EXPECT_EQ(heap.count(), 10u);
    std::vector<int> out;
    while (!heap.empty()) out.push_back(heap.pop());
    EXPECT_EQ(out, (std::vector<int>{0, 0, 0, 1, 1, 1, 2, 2, 3, 3}));
}

TEST(SorterTest, ItemHeapGrowsOneThreeSevenFifteen) {
    Sorter sorter(5);
    std::vector<size_t> capacities{sorter.heapCapacity()};
    std::vector<uint8_t> items = makeItems(5, 20, 7);
    for (size_t i = 0; i < 20; ++i) {
        ASSERT_EQ(sorter.insert(items.data() + 5 * i), 0);
        if (capacities.back() != sorter.heapCapacity()) capacities.push_back(sorter.heapCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<size_t>{0, 1, 3, 7, 15, 31}));
}

// ---- Order ----

TEST(SorterTest, RandomItemsComeOutAsStdSortPutsThem) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    for (size_t length : {5u, 6u, 12u, 300u, 517u}) {
        for (uint32_t seed : {1u, 2u, 3u}) {
            SCOPED_TRACE("length " + std::to_string(length) + " seed " + std::to_string(seed));
            std::vector<uint8_t> items = makeItems(length, 1500, seed * 100 + length);
            Sorter sorter(length);
            Outcome outcome = runSort(sorter, items);
            ASSERT_EQ(firstError(outcome), 0);
            EXPECT_EQ(sorter.runCount(), 0u);
            EXPECT_TRUE(outcome.output == sortedItems(items, length));
        }
    }
    EXPECT_TRUE(filesIn(directory.path()).empty());
}

TEST(SorterTest, EqualKeysComeOutInRecordNumberOrder) {
    // One key value, record numbers inserted from high to low.
    const size_t length = 8;
    std::vector<uint8_t> items;
    for (uint32_t record = 300; record >= 1; --record) {
        uint8_t item[length] = {0xC3, 0x80, 0x41, 0x00, 0, 0,
                                static_cast<uint8_t>(record >> 8), static_cast<uint8_t>(record)};
        items.insert(items.end(), item, item + length);
    }
    Sorter sorter(length);
    Outcome outcome = runSort(sorter, items);
    ASSERT_EQ(firstError(outcome), 0);
    ASSERT_EQ(outcome.output.size(), items.size());
    for (uint32_t record = 1; record <= 300; ++record) {
        const uint8_t* item = outcome.output.data() + (record - 1) * length;
        EXPECT_EQ(item[6] << 8 | item[7], static_cast<int>(record));
    }
}

TEST(SorterTest, BytesAboveSeventyFComeAfterLowerOnes) {
    Sorter sorter(5);
    const uint8_t high[5] = {0x80, 0, 0, 0, 1};
    const uint8_t low[5] = {0x7F, 0, 0, 0, 2};
    ASSERT_EQ(sorter.insert(high), 0);
    ASSERT_EQ(sorter.insert(low), 0);
    ASSERT_EQ(sorter.finish(), 0);
    const uint8_t* item = nullptr;
    ASSERT_EQ(sorter.next(&item), 0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item[0], 0x7F);
    ASSERT_EQ(sorter.next(&item), 0);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item[0], 0x80);
    ASSERT_EQ(sorter.next(&item), 0);
    EXPECT_EQ(item, nullptr);
}

TEST(SorterTest, EmptySortHandsOutNothing) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    Sorter sorter(5);
    ASSERT_EQ(sorter.finish(), 0);
    const uint8_t* item = reinterpret_cast<const uint8_t*>(&sorter);
    EXPECT_EQ(sorter.next(&item), 0);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(sorter.next(&item), 0);
    EXPECT_EQ(item, nullptr);
    EXPECT_EQ(sorter.runCount(), 0u);
    EXPECT_TRUE(filesIn(directory.path()).empty());
}

TEST(SorterTest, CallsOutOfOrderFailTheSort) {
    Sorter unfinished(5);
    const uint8_t item[5] = {1, 0, 0, 0, 1};
    ASSERT_EQ(unfinished.insert(item), 0);
    const uint8_t* out = nullptr;
    EXPECT_EQ(unfinished.next(&out), kFileSystemError);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(unfinished.failure().message, kSortMisuse);

    Sorter finished(5);
    ASSERT_EQ(finished.finish(), 0);
    EXPECT_EQ(finished.insert(item), kFileSystemError);
    EXPECT_EQ(finished.finish(), kFileSystemError);
}

// ---- Runs and the temporary file ----

TEST(SorterTest, AMillionBytesStayInMemory) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    std::vector<uint8_t> items = makeItems(5, 200000, 11);  // exactly 1000000 bytes
    Sorter sorter(5);
    Outcome outcome = runSort(sorter, items, [&] {
        EXPECT_EQ(sorter.runCount(), 0u);
        EXPECT_TRUE(filesIn(directory.path()).empty());
    });
    ASSERT_EQ(firstError(outcome), 0);
    EXPECT_EQ(sorter.runCount(), 0u);
    EXPECT_EQ(sorter.workFileName(), "");
    EXPECT_TRUE(filesIn(directory.path()).empty());
    EXPECT_TRUE(outcome.output == sortedItems(items, 5));
}

TEST(SorterTest, OneItemMoreSpillsIntoATemporaryFile) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    std::vector<uint8_t> items = makeItems(5, 200001, 12);
    {
        Sorter sorter(5);
        Outcome outcome = runSort(sorter, items, [&] {
            // The last insertion wrote the first 200000 items as a run.
            EXPECT_EQ(sorter.runCount(), 1u);
            std::vector<std::string> files = filesIn(directory.path());
            ASSERT_EQ(files.size(), 1u);
            EXPECT_EQ(files[0].rfind("TMP", 0), 0u) << files[0];
            EXPECT_EQ(sorter.workFileName(), directory.file(files[0]));
        });
        ASSERT_EQ(firstError(outcome), 0);
        EXPECT_EQ(sorter.runCount(), 2u);
        EXPECT_TRUE(outcome.output == sortedItems(items, 5));
        // Two runs: 1000000 bytes, then the one item left.
        std::string file = test::readFileBytes(sorter.workFileName());
        ASSERT_EQ(file.size(), 4u + 1000000u + 4u + 5u);
        EXPECT_EQ(load32le(bytesAt(file, 0)), 1000000u);
        EXPECT_EQ(load32le(bytesAt(file, 1000004)), 5u);
        // Each run is in ascending order.
        EXPECT_LT(std::memcmp(file.data() + 4, file.data() + 9, 5), 0);
    }
    EXPECT_TRUE(filesIn(directory.path()).empty());
}

TEST(SorterTest, FirstRunIsTheFewestItemsReachingAMillionBytes) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    // 3334 items of 300 bytes are the first to reach 1000000 bytes (1000200).
    std::vector<uint8_t> items = makeItems(300, 3340, 13);
    Sorter sorter(300);
    Outcome outcome = runSort(sorter, items, [&] {
        std::string file = test::readFileBytes(sorter.workFileName());
        ASSERT_GE(file.size(), 4u);
        EXPECT_EQ(load32le(bytesAt(file, 0)), 3334u * 300u);
    });
    ASSERT_EQ(firstError(outcome), 0);
    EXPECT_EQ(sorter.runCount(), 2u);
    EXPECT_TRUE(outcome.output == sortedItems(items, 300));
}

TEST(SorterTest, SeveralRunsMergeIntoOneOrder) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    for (size_t length : {5u, 300u, 600u}) {
        SCOPED_TRACE("length " + std::to_string(length));
        size_t count = 3500000 / length;
        std::vector<uint8_t> items = makeItems(length, count, 17 + static_cast<uint32_t>(length));
        {
            Sorter sorter(length);
            Outcome outcome = runSort(sorter, items);
            ASSERT_EQ(firstError(outcome), 0);
            EXPECT_EQ(sorter.runCount(), 4u);
            EXPECT_EQ(outcome.output.size(), items.size());
            EXPECT_TRUE(outcome.output == sortedItems(items, length));
        }
        EXPECT_TRUE(filesIn(directory.path()).empty());
    }
}

TEST(SorterTest, SmallRunsMergeThroughManyReaders) {
    // Runs of about 1000 bytes: 400 runs, the stream moving to a file after the first 16 or so.
    SortLimits limits;
    limits.runBytes = 1000;
    std::vector<uint8_t> items = makeItems(7, 60000, 23);
    Sorter sorter(7, limits);
    Outcome outcome = runSort(sorter, items);
    ASSERT_EQ(firstError(outcome), 0);
    // 143 items of 7 bytes are the first to reach 1000 bytes.
    EXPECT_EQ(sorter.runCount(), (60000u + 142u) / 143u);
    EXPECT_TRUE(outcome.output == sortedItems(items, 7));
}

TEST(SorterTest, FullHeapWritesARun) {
    SortLimits limits;
    limits.maxItems = 100;
    std::vector<uint8_t> items = makeItems(9, 1050, 29);
    Sorter sorter(9, limits);
    Outcome outcome = runSort(sorter, items);
    ASSERT_EQ(firstError(outcome), 0);
    EXPECT_EQ(sorter.runCount(), 11u);
    EXPECT_EQ(sorter.heapCapacity(), 0u);  // given back for the merge
    EXPECT_TRUE(outcome.output == sortedItems(items, 9));
}

TEST(SorterTest, TooManyRunsFailTheSort) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    SortLimits limits;
    limits.maxItems = 10;  // ten items per run, ten runs at most
    std::vector<uint8_t> items = makeItems(5, 101, 31);
    Sorter sorter(5, limits);
    Outcome outcome = runSort(sorter, items);
    EXPECT_EQ(outcome.insertError, 0);
    EXPECT_EQ(outcome.finishError, kFileSystemError);
    EXPECT_EQ(sorter.failure().message, kSortTooManyRuns);
    EXPECT_TRUE(filesIn(directory.path()).empty());
}

TEST(SorterTest, DestroyingEarlyDeletesTheFile) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    std::vector<uint8_t> items = makeItems(5, 250000, 37);
    {
        // Destroyed between the insertions and finish.
        Sorter sorter(5);
        for (size_t offset = 0; offset < items.size(); offset += 5) {
            ASSERT_EQ(sorter.insert(items.data() + offset), 0);
        }
        EXPECT_EQ(filesIn(directory.path()).size(), 1u);
    }
    EXPECT_TRUE(filesIn(directory.path()).empty());
    {
        // Destroyed halfway through the output.
        Sorter sorter(5);
        for (size_t offset = 0; offset < items.size(); offset += 5) {
            ASSERT_EQ(sorter.insert(items.data() + offset), 0);
        }
        ASSERT_EQ(sorter.finish(), 0);
        for (int i = 0; i < 1000; ++i) {
            const uint8_t* item = nullptr;
            ASSERT_EQ(sorter.next(&item), 0);
            ASSERT_NE(item, nullptr);
        }
    }
    EXPECT_TRUE(filesIn(directory.path()).empty());
}

TEST(SorterTest, TwoSortersUseTwoFiles) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    std::vector<uint8_t> items = makeItems(5, 210000, 41);
    Sorter first(5);
    Sorter second(5);
    for (size_t offset = 0; offset < items.size(); offset += 5) {
        ASSERT_EQ(first.insert(items.data() + offset), 0);
        ASSERT_EQ(second.insert(items.data() + offset), 0);
    }
    EXPECT_EQ(filesIn(directory.path()).size(), 2u);
    EXPECT_NE(first.workFileName(), second.workFileName());
}

// ---- The run stream ----

TEST(RunStreamTest, MovesToAFileWhenAWriteEndsBeyondTheBuffer) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    std::vector<uint8_t> bytes(40000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + i / 256);
    {
        RunStream stream;
        ASSERT_EQ(stream.write(bytes.data(), 16000), 0);
        ASSERT_EQ(stream.write(bytes.data() + 16000, 384), 0);
        EXPECT_FALSE(stream.onFile());
        EXPECT_TRUE(filesIn(directory.path()).empty());
        // Reads and seeks in memory.
        std::vector<uint8_t> back(100);
        ASSERT_EQ(stream.seek(16300), 0);
        ASSERT_EQ(stream.read(back.data(), 84), 0);
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + 84, bytes.begin() + 16300));
        EXPECT_EQ(stream.position(), 16384u);
        // One byte more moves the stream.
        ASSERT_EQ(stream.write(bytes.data() + 16384, 1), 0);
        EXPECT_TRUE(stream.onFile());
        std::vector<std::string> files = filesIn(directory.path());
        ASSERT_EQ(files.size(), 1u);
        EXPECT_EQ(files[0].rfind("TMP", 0), 0u);
        EXPECT_EQ(stream.fileName(), directory.file(files[0]));
        // A long write goes straight to the file; short ones go through the buffer.
        ASSERT_EQ(stream.write(bytes.data() + 16385, 20000), 0);
        ASSERT_EQ(stream.write(bytes.data() + 36385, 3615), 0);
        EXPECT_EQ(stream.size(), 40000u);
        std::vector<uint8_t> all(40000);
        ASSERT_EQ(stream.seek(0), 0);
        ASSERT_EQ(stream.read(all.data(), all.size()), 0);
        EXPECT_TRUE(all == bytes);
        // Overwriting in the middle.
        const uint8_t patch[3] = {1, 2, 3};
        ASSERT_EQ(stream.seek(100), 0);
        ASSERT_EQ(stream.write(patch, 3), 0);
        ASSERT_EQ(stream.seek(99), 0);
        uint8_t around[5];
        ASSERT_EQ(stream.read(around, 5), 0);
        EXPECT_EQ(around[0], bytes[99]);
        EXPECT_EQ(around[1], 1);
        EXPECT_EQ(around[3], 3);
        EXPECT_EQ(around[4], bytes[103]);
        // Reading beyond the end fails.
        ASSERT_EQ(stream.seek(39999), 0);
        EXPECT_EQ(stream.read(around, 2), kFileSystemError);
        EXPECT_TRUE(stream.failed());
        EXPECT_TRUE(filesIn(directory.path()).empty());
    }
    EXPECT_TRUE(filesIn(directory.path()).empty());
}

TEST(RunStreamTest, CloseDeletesTheFile) {
    test::TempDir directory;
    ScopedTmpDir tmp(directory.path());
    RunStream stream;
    std::vector<uint8_t> bytes(20000, 0x5A);
    ASSERT_EQ(stream.write(bytes.data(), bytes.size()), 0);
    EXPECT_EQ(filesIn(directory.path()).size(), 1u);
    EXPECT_EQ(stream.close(), 0);
    EXPECT_TRUE(filesIn(directory.path()).empty());
    EXPECT_EQ(stream.write(bytes.data(), 1), kFileSystemError);
}

// ---- Failures of the temporary file ----

class SorterFaultTest : public ::testing::Test {
protected:
    // 30000 items of 50 bytes: two runs, 1500008 bytes of stream.
    SorterFaultTest() : items_(makeItems(kLength, 30000, 43)), tmp_(directory_.path()) {}

    static constexpr size_t kLength = 50;

    // Runs the sort on the faulty file system; expects it to fail with 90 and the message, and
    // no file to be left either at the failure or after the sorter's end.
    void expectFailure(test::FaultyFileSystem& faults, const char* message, int osError) {
        test::ScopedFileSystem installed(faults);
        {
            Sorter sorter(kLength);
            Outcome outcome = runSort(sorter, items_);
            EXPECT_EQ(firstError(outcome), kFileSystemError);
            EXPECT_TRUE(sorter.failed());
            EXPECT_EQ(sorter.failure().code, kFileSystemError);
            EXPECT_EQ(sorter.failure().message, message);
            EXPECT_EQ(sorter.failure().osError, osError);
            EXPECT_LT(outcome.output.size(), items_.size());
            EXPECT_TRUE(filesIn(directory_.path()).empty());
            // The failure sticks.
            const uint8_t* item = nullptr;
            EXPECT_EQ(sorter.next(&item), kFileSystemError);
            EXPECT_EQ(item, nullptr);
        }
        EXPECT_TRUE(filesIn(directory_.path()).empty());
    }

    // How many writes and reads a sound sort makes.
    void countCalls(int* writes, int* reads) {
        test::FaultyFileSystem counting;
        test::ScopedFileSystem installed(counting);
        Sorter sorter(kLength);
        Outcome outcome = runSort(sorter, items_);
        ASSERT_EQ(firstError(outcome), 0);
        EXPECT_EQ(sorter.runCount(), 2u);
        ASSERT_TRUE(outcome.output == sortedItems(items_, kLength));
        *writes = counting.writes();
        *reads = counting.reads();
    }

    std::vector<uint8_t> items_;
    test::TempDir directory_;
    ScopedTmpDir tmp_;
};

TEST_F(SorterFaultTest, FailedWrites) {
    int writes = 0;
    int reads = 0;
    ASSERT_NO_FATAL_FAILURE(countCalls(&writes, &reads));
    ASSERT_GT(writes, 60);
    for (int at : {1, 2, writes / 2, writes - 1, writes}) {
        SCOPED_TRACE("write " + std::to_string(at));
        test::FaultyFileSystem faults;
        faults.failWriteAt = at;
        expectFailure(faults, kSortFileNotWritten, kFileSystemError);
    }
}

TEST_F(SorterFaultTest, FailedWriteKeepsTheSystemError) {
    test::FaultyFileSystem faults;
    faults.failWriteAt = 3;
    faults.writeError = 28;
    test::ScopedFileSystem installed(faults);
    Sorter sorter(kLength);
    Outcome outcome = runSort(sorter, items_);
    EXPECT_EQ(outcome.insertError, kFileSystemError);
    EXPECT_EQ(sorter.failure().systemError, 28);
}

TEST_F(SorterFaultTest, ShortWrites) {
    int writes = 0;
    int reads = 0;
    ASSERT_NO_FATAL_FAILURE(countCalls(&writes, &reads));
    for (int at : {1, 2, writes / 2, writes - 1, writes}) {
        SCOPED_TRACE("write " + std::to_string(at));
        test::FaultyFileSystem faults;
        faults.shortWriteAt = at;
        expectFailure(faults, kSortFileNotWritten, 0);
    }
}

TEST_F(SorterFaultTest, FailedReads) {
    int writes = 0;
    int reads = 0;
    ASSERT_NO_FATAL_FAILURE(countCalls(&writes, &reads));
    ASSERT_GT(reads, 2000);
    for (int at : {1, 2, 3, 4, reads / 2, reads - 1, reads}) {
        SCOPED_TRACE("read " + std::to_string(at));
        test::FaultyFileSystem faults;
        faults.failReadAt = at;
        expectFailure(faults, kSortFileNotRead, kFileSystemError);
    }
}

TEST_F(SorterFaultTest, WritesLostWithoutAnErrorAreNoticedOnReading) {
    // The file system claims success but nothing reaches the file after the third write: the
    // merge finds the file shorter than what was written.
    test::FaultyFileSystem faults;
    faults.stopAfterWrite = 3;
    faults.stopAction = test::FaultyFileSystem::StopAction::dropWrites;
    test::ScopedFileSystem installed(faults);
    Sorter sorter(kLength);
    Outcome outcome = runSort(sorter, items_);
    EXPECT_EQ(firstError(outcome), kFileSystemError);
    EXPECT_EQ(sorter.failure().message, kSortFileNotRead);
}

TEST_F(SorterFaultTest, MissingTemporaryDirectory) {
    ScopedTmpDir missing(directory_.file("missing"));
    test::FaultyFileSystem faults;
    expectFailure(faults, kSortFileNotCreated, 3);
}

TEST(SorterMissingDirectoryTest, SortInMemoryNeedsNoDirectory) {
    test::TempDir directory;
    ScopedTmpDir missing(directory.file("missing"));
    std::vector<uint8_t> items = makeItems(5, 1000, 47);
    Sorter sorter(5);
    Outcome outcome = runSort(sorter, items);
    ASSERT_EQ(firstError(outcome), 0);
    EXPECT_TRUE(outcome.output == sortedItems(items, 5));
}

}  // namespace
}  // namespace vellum
