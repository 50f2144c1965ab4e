// A randomized model test of records and keys: random ADD, PUT and DELETE on a table with four
// keys of mixed kinds, checked after every batch against an in-memory model. Each key is scanned
// forward and backward and must list exactly the records the model gives it, in its order; the
// record and key counts must match.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "filelayer/table.h"
#include "support/sound_files.h"
#include "support/temp_dir.h"
#include "vellum/error_codes.h"
#include "vellum/operation_codes.h"

namespace vellum {
namespace {

struct Row {
    int32_t group = 0;   // DUP key
    int32_t code = 0;    // unique OPT key; 0 is blank
    std::string name;    // unique NOCASE key, STRING(4)
    double score = 0;    // DUP key, descending
};

constexpr uint32_t kGroup = 1, kCode = 2, kName = 3, kScore = 4;

TableDeclaration modelDeclaration(const std::string& file) {
    TableDeclaration declaration("M");
    declaration.name(file)
        .attributes(kAttributeCreate)
        .longField("M:Group")
        .longField("M:Code")
        .string("M:Name", 4)
        .real("M:Score")
        .key("M:GroupKey", kKeyDup, {1})
        .key("M:CodeKey", kKeyOpt, {2})
        .key("M:NameKey", kKeyNoCase, {3})
        .key("M:ScoreKey", kKeyDup, {-4});
    return declaration;
}

std::string folded(const std::string& name) {
    std::string out = name;
    out.resize(4, ' ');
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

class Model {
public:
    // Whether a row would repeat a unique value of another record.
    bool clashes(const Row& row, uint32_t self) const {
        for (const auto& [number, other] : rows) {
            if (number == self) continue;
            if (row.code != 0 && row.code == other.code) return true;
            if (folded(row.name) == folded(other.name)) return true;
        }
        return false;
    }

    // The record numbers of a key, in its order.
    std::vector<uint32_t> keyOrder(unsigned key) const {
        std::vector<uint32_t> numbers;
        for (const auto& [number, row] : rows) {
            if (key == 2 && row.code == 0) continue;
            numbers.push_back(number);
        }
        auto rank = [&](uint32_t n) {
            const Row& r = rows.at(n);
            switch (key) {
                case 1: return std::make_tuple(double(r.group), std::string(), n);
                case 2: return std::make_tuple(double(r.code), std::string(), 0u);
                case 3: return std::make_tuple(0.0, folded(r.name), 0u);
                default: return std::make_tuple(-r.score, std::string(), n);
            }
        };
        std::sort(numbers.begin(), numbers.end(),
                  [&](uint32_t a, uint32_t b) { return rank(a) < rank(b); });
        return numbers;
    }

    std::map<uint32_t, Row> rows;
};

class KeyModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        table_ = std::make_unique<Table>(modelDeclaration(dir_.file("model.vlm")));
        ASSERT_EQ(table_->create(), 0);
        ASSERT_EQ(table_->open(0x42), 0);
    }

    Row randomRow() {
        static const char kLetters[] = "aAbBcC";
        Row row;
        row.group = static_cast<int32_t>(random_() % 5) - 2;
        row.code = static_cast<int32_t>(random_() % 40);
        if (random_() % 3 == 0) row.code = 0;
        size_t length = 1 + random_() % 3;
        for (size_t i = 0; i < length; ++i) row.name += kLetters[random_() % 6];
        row.score = static_cast<double>(static_cast<int>(random_() % 9) - 4) / 2;
        return row;
    }

    void fill(const Row& row) {
        table_->setLong(kGroup, row.group);
        table_->setLong(kCode, row.code);
        table_->setText(kName, row.name);
        std::memcpy(table_->record() + 12, &row.score, sizeof row.score);
    }

    uint32_t randomRecord() {
        auto at = model_.rows.begin();
        std::advance(at, static_cast<long>(random_() % model_.rows.size()));
        return at->first;
    }

    void step() {
        unsigned action = random_() % 10;
        if (model_.rows.empty() || action < 5) {
            Row row = randomRow();
            table_->clear();
            fill(row);
            int expected = model_.clashes(row, 0) ? kCreatesDuplicateKey : 0;
            ASSERT_EQ(table_->add(), expected);
            if (expected == 0) {
                model_.rows[static_cast<uint32_t>(table_->call(kPOINTERfile))] = row;
            }
        } else if (action < 8) {
            uint32_t number = randomRecord();
            table_->call(kGETfileptr, {number});
            ASSERT_EQ(table_->errorCode(), 0);
            Row row = model_.rows[number];
            Row changed = randomRow();
            if (random_() % 2) row.group = changed.group;
            if (random_() % 2) row.code = changed.code;
            if (random_() % 2) row.name = changed.name;
            if (random_() % 2) row.score = changed.score;
            fill(row);
            int expected = model_.clashes(row, number) ? kCreatesDuplicateKey : 0;
            ASSERT_EQ(table_->put(), expected);
            if (expected == 0) model_.rows[number] = row;
        } else {
            uint32_t number = randomRecord();
            table_->call(kGETfileptr, {number});
            ASSERT_EQ(table_->errorCode(), 0);
            ASSERT_EQ(table_->erase(), 0);
            model_.rows.erase(number);
        }
    }

    std::vector<uint32_t> scan(unsigned key, bool backward) {
        std::vector<uint32_t> numbers;
        EXPECT_EQ(table_->set(table_->key(key)), 0);
        while ((backward ? table_->previous() : table_->next()) == 0) {
            numbers.push_back(static_cast<uint32_t>(table_->call(kPOINTERfile)));
        }
        EXPECT_EQ(table_->errorCode(), kRecordNotAvailable);
        if (backward) std::reverse(numbers.begin(), numbers.end());
        return numbers;
    }

    void check(int batch) {
        uint32_t count = 0;
        ASSERT_EQ(table_->records(&count), 0);
        ASSERT_EQ(count, model_.rows.size()) << "batch " << batch;
        for (unsigned key = 1; key <= 4; ++key) {
            std::vector<uint32_t> expected = model_.keyOrder(key);
            ASSERT_EQ(scan(key, false), expected) << "key " << key << " batch " << batch;
            ASSERT_EQ(scan(key, true), expected) << "key " << key << " batch " << batch;
            int32_t entries = table_->call(kRECORDSkey, {reinterpret_cast<ArgumentSlot>(table_->key(key))});
            ASSERT_EQ(static_cast<size_t>(entries), expected.size()) << "key " << key;
        }
        // Every record reads back as the model has it.
        for (const auto& [number, row] : model_.rows) {
            table_->call(kGETfileptr, {number});
            ASSERT_EQ(table_->errorCode(), 0);
            ASSERT_EQ(table_->longValue(kCode), row.code);
            ASSERT_EQ(folded(table_->text(kName)), folded(row.name));
        }
    }

    test::TempDir dir_;
    test::SoundFilesCheck soundFiles_{dir_};
    std::unique_ptr<Table> table_;
    Model model_;
    std::mt19937 random_{20261211};
};

TEST_F(KeyModelTest, KeysAgreeWithTheModelAfterEveryBatch) {
    for (int batch = 0; batch < 40; ++batch) {
        for (int i = 0; i < 50; ++i) {
            ASSERT_NO_FATAL_FAILURE(step()) << "batch " << batch << " step " << i;
        }
        ASSERT_NO_FATAL_FAILURE(check(batch));
        // Now and then the table is closed and opened again, so that the file is read afresh.
        if (batch % 10 == 9) {
            ASSERT_EQ(table_->close(), 0);
            ASSERT_EQ(table_->open(0x42), 0);
        }
    }
}

}  // namespace
}  // namespace vellum
