// Times QLMviewer's window on Qt's offscreen platform, driven as a user drives it, over two data
// folders in one run: the sample thesaurus (data/sample, imported afresh each run) and a
// generated thesaurus of N terms (default 1,000,000), generated and imported once into a cache
// folder and reused by later runs. For each folder, with the steady clock:
//   1. start to first page shown: from constructing the error manager, settings manager and
//      dictionary and running the program body (settings, dictionary start-up, QuickWindow made
//      and opened, as the program's main does, but without blocking in an event loop) until the
//      terms list's model holds its first page, processing events until it does; every
//      repetition is a fresh run, closed and ended as the program ends it;
//   2. locate by a typed letter: a key press of 'm', then 's', alternating, in the terms list, so
//      that each press jumps, until the selected row is another;
//   3. page down: a PageDown key in the terms list until the page's first row is another (Home,
//      untimed, every 10 presses keeps the small sample from running out of pages);
//   4. header re-sort: a click on the Status header until the header shows the new order and
//      the list its first page, a second click (the header turns the direction), and a click with
//      Ctrl, which takes the column out of the order and so returns the list to its key order
//      (plain clicks only turn the direction, they never empty the order).
// Steps 2 to 4 run in the last repetition's window. Prints the median of each step for both
// folders, with the aims next to them. Messages the error manager would have shown are listed.
//
// Usage: viewer_bench [--terms N] [--dir DIRECTORY] [--reps R] [--sample CSV_DIRECTORY]
//   --terms   terms of the generated thesaurus (default 1,000,000)
//   --dir     the cache folder (default build/release/bench-data); the generated thesaurus lives
//             in DIRECTORY/terms-N/{csv,data}, the sample in DIRECTORY/sample, the settings file
//             in DIRECTORY/QLMviewer.INI
//   --reps    runs for step 1 and click cycles for step 4 (default 5); steps 2 and 3 take 4 × R
//             key presses
//   --sample  the sample's CSV folder (default data/sample of the source tree)
#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "app/program_body.h"
#include "app/settings_manager.h"
#include "app/system_settings.h"
#include "browse_lists/browse_list.h"
#include "dictionary/dictionary.h"
#include "dictionary/recording_error_manager.h"
#include "main_window/quick_window.h"
#include "qlmtool/generator.h"
#include "qlmtool/importer.h"

const char* const bench::kBenchName = "viewer_bench";

namespace {

using bench::fail;

using namespace vellum::viewer;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

constexpr const char* kTermsList = "?BROWSE:1";
constexpr int kStatusColumn = 1;
// Written last into a folder the generator or the import filled, so that a run broken off
// halfway is not taken for a cache.
constexpr const char* kCompleteMark = "bench-complete";
// A step that has not happened after this long is taken as failed.
constexpr auto kDeadline = std::chrono::seconds(600);

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void progress(const std::string& what) {
    std::printf("  %s\n", what.c_str());
    std::fflush(stdout);
}

// Processes events until done holds; false when the deadline passes first.
bool processUntil(const std::function<bool()>& done) {
    const auto deadline = Clock::now() + kDeadline;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QApplication::processEvents();
    }
    return true;
}

// The times of one step and why any repetition failed.
struct Step {
    std::vector<double> times;
    std::string failure;

    void add(bool done, Clock::time_point start, const std::string& what) {
        const double ms = millisecondsSince(start);
        if (done) {
            times.push_back(ms);
        } else if (failure.empty()) {
            failure = what;
        }
    }
    std::optional<double> median() const {
        if (times.empty()) return std::nullopt;
        std::vector<double> sorted = times;
        std::sort(sorted.begin(), sorted.end());
        const size_t n = sorted.size();
        return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

struct FolderResult {
    Step firstPage;
    Step locate;
    Step pageDown;
    Step sortAscending;
    Step sortDescending;
    Step keyOrder;
    int locateMisses = 0;  // presses that moved the selection without landing on the letter
    int pageRows = 0;      // rows of the terms list's first page
    std::vector<std::string> messages;
};

// Reading and driving the terms list ----------------------------------------------------------

std::string positionAt(const BrowseList& list, int row) {
    const std::vector<vellum::ViewRow>& rows = list.model().rows();
    if (row < 0 || static_cast<size_t>(row) >= rows.size()) return {};
    return rows[static_cast<size_t>(row)].position;
}

int currentRow(const BrowseList& list) {
    const QModelIndex index = list.table()->currentIndex();
    return index.isValid() ? index.row() : -1;
}

std::string currentPosition(const BrowseList& list) {
    return positionAt(list, currentRow(list));
}

std::string cellText(const BrowseList& list, int row, int column) {
    const BrowseModel& model = list.model();
    return model.data(model.index(row, column), Qt::DisplayRole).toString().toStdString();
}

std::string headerText(const BrowseList& list, int column) {
    return list.model()
        .headerData(column, Qt::Horizontal, Qt::DisplayRole)
        .toString()
        .toStdString();
}

void pressKey(BrowseList& list, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(list.table(), &press);
}

void clickHeader(BrowseList& list, int column, Qt::KeyboardModifiers modifiers) {
    QHeaderView* header = list.table()->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + 4, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, modifiers, at);
}

// Steps 2 to 4 on the terms list of an open window.
void interact(BrowseList& terms, int reps, FolderResult& result) {
    const int presses = 4 * reps;

    // 2. Locate: each letter differs from the one before, so the row after the selection never
    // begins with it and the list jumps.
    for (int i = 0; i < presses; ++i) {
        const char letter = i % 2 == 0 ? 'm' : 's';
        const std::string before = currentPosition(terms);
        const auto start = Clock::now();
        pressKey(terms, letter, QString(QChar(letter)));
        const bool moved = processUntil([&] {
            const std::string now = currentPosition(terms);
            return !now.empty() && now != before;
        });
        result.locate.add(moved, start, std::string("typing ") + letter + " did not move");
        const std::string term = cellText(terms, currentRow(terms), 0);
        if (moved && (term.empty() || std::toupper(static_cast<unsigned char>(term[0])) !=
                                          std::toupper(static_cast<unsigned char>(letter)))) {
            ++result.locateMisses;
        }
    }

    // 3. Paging down from the first page.
    for (int i = 0; i < presses; ++i) {
        if (i % 10 == 0) {
            pressKey(terms, Qt::Key_Home);
            processUntil([] { return true; });
        }
        const std::string before = positionAt(terms, 0);
        const auto start = Clock::now();
        pressKey(terms, Qt::Key_PageDown);
        const bool moved = processUntil([&] {
            const std::string now = positionAt(terms, 0);
            return !now.empty() && now != before;
        });
        result.pageDown.add(moved, start, "PageDown did not show another page");
    }

    // 4. Header clicks: Status ascending, descending, then out of the order.
    struct Click {
        Qt::KeyboardModifiers modifiers;
        Step* step;
        const char* what;
    };
    const Click clicks[] = {
        {Qt::NoModifier, &result.sortAscending, "the first click on Status showed no new order"},
        {Qt::NoModifier, &result.sortDescending, "the second click on Status did not turn it"},
        {Qt::ControlModifier, &result.keyOrder, "Ctrl-click on Status kept it in the order"},
    };
    for (int r = 0; r < reps; ++r) {
        for (const Click& click : clicks) {
            const std::string before = headerText(terms, kStatusColumn);
            const auto start = Clock::now();
            clickHeader(terms, kStatusColumn, click.modifiers);
            const bool shown = processUntil([&] {
                return headerText(terms, kStatusColumn) != before && terms.model().rowCount() > 0;
            });
            click.step->add(shown, start, click.what);
        }
    }
}

// One folder: reps runs of the window, the last one driven.
FolderResult runFolder(const std::string& dataDirectory, const std::string& settingsPath,
                       int reps) {
    FolderResult result;
    for (int r = 0; r < reps; ++r) {
        const bool last = r == reps - 1;
        const auto start = Clock::now();
        RecordingErrorManager errors;
        SettingsManager settings(settingsPath);
        MemorySystemSettings system;
        Dictionary dictionary(dataDirectory, errors);
        runProgramBody(settings, system, dictionary, [&] {
            QuickWindow window(dictionary, settings);
            window.open();
            auto* terms = window.findChild<BrowseList*>(kTermsList);
            if (terms == nullptr) fail("the window has no terms list");
            const bool shown = processUntil([&] { return terms->model().rowCount() > 0; });
            result.firstPage.add(shown, start, "the terms list showed no page");
            result.pageRows = terms->model().rowCount();
            if (last && shown) interact(*terms, reps, result);
            window.close();
        });
        endThread(dictionary);
        for (const ShownMessage& message : errors.shown()) {
            result.messages.push_back(std::to_string(message.number) + " " + message.title + ": " +
                                      message.text);
        }
    }
    return result;
}

// Data folders ----------------------------------------------------------------------------------

bool complete(const fs::path& folder) {
    return fs::exists(folder / kCompleteMark);
}

void markComplete(const fs::path& folder) {
    std::ofstream(folder / kCompleteMark) << "written by viewer_bench\n";
}

void importInto(const fs::path& csv, const fs::path& data) {
    fs::remove_all(data);
    const vellum::qlmtool::Outcome outcome =
        vellum::qlmtool::importThesaurus(csv.string(), data.string());
    if (outcome.status != vellum::qlmtool::kSuccess) {
        fail("import of " + csv.string() + ": " + outcome.message);
    }
}

// The generated thesaurus's data folder, generated and imported unless the cache holds it.
fs::path generatedFolder(const fs::path& cache, uint64_t termCount, std::string& note) {
    const fs::path root = cache / ("terms-" + std::to_string(termCount));
    const fs::path csv = root / "csv";
    const fs::path data = root / "data";
    if (complete(data)) {
        note = "reused";
        return data;
    }
    char text[96];
    if (!complete(csv)) {
        progress("generating " + std::to_string(termCount) + " terms into " + csv.string());
        fs::remove_all(csv);
        const auto start = Clock::now();
        const vellum::qlmtool::Outcome outcome =
            vellum::qlmtool::generateThesaurus(termCount, csv.string());
        if (outcome.status != vellum::qlmtool::kSuccess) fail("generate: " + outcome.message);
        markComplete(csv);
        std::snprintf(text, sizeof text, "generated in %.1f s, ", millisecondsSince(start) / 1000);
        note += text;
    }
    progress("importing into " + data.string());
    const auto start = Clock::now();
    importInto(csv, data);
    markComplete(data);
    std::snprintf(text, sizeof text, "imported in %.1f s", millisecondsSince(start) / 1000);
    note += text;
    return data;
}

std::string cell(const Step& step) {
    const std::optional<double> median = step.median();
    if (!median) return "failed";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", *median);
    return text;
}

void printRow(const char* label, const Step& sample, const Step& generated, const char* aim) {
    std::printf("%-38s %10s %12s   %s\n", label, cell(sample).c_str(), cell(generated).c_str(),
                aim);
}

void printProblems(const char* folder, const FolderResult& result) {
    const std::pair<const char*, const Step*> steps[] = {
        {"first page", &result.firstPage},
        {"locate", &result.locate},
        {"page down", &result.pageDown},
        {"Status ascending", &result.sortAscending},
        {"Status descending", &result.sortDescending},
        {"key order", &result.keyOrder}};
    for (const auto& [label, step] : steps) {
        if (!step->failure.empty()) {
            std::printf("%s, %s: %s\n", folder, label, step->failure.c_str());
        }
    }
    if (result.locateMisses > 0) {
        std::printf("%s: %d typed letters moved the selection without reaching the letter\n",
                    folder, result.locateMisses);
    }
    for (const std::string& message : result.messages) {
        std::printf("%s, message shown: %s\n", folder, message.c_str());
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Offscreen unless the caller chose a platform.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);

    uint64_t termCount = 1000000;
    std::string cacheDirectory = VELLUM_BENCH_BINARY_DIR "/bench-data";
    std::string sampleDirectory = VELLUM_BENCH_SOURCE_DIR "/data/sample";
    int reps = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--terms" && i + 1 < argc) {
            termCount = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--dir" && i + 1 < argc) {
            cacheDirectory = argv[++i];
        } else if (arg == "--reps" && i + 1 < argc) {
            reps = std::atoi(argv[++i]);
        } else if (arg == "--sample" && i + 1 < argc) {
            sampleDirectory = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: %s [--terms N] [--dir DIRECTORY] [--reps R] "
                         "[--sample CSV_DIRECTORY]\n",
                         argv[0]);
            return 2;
        }
    }
    if (termCount < 2 || termCount > vellum::qlmtool::kMaxGeneratedTerms) {
        fail("--terms must be from 2 to " + std::to_string(vellum::qlmtool::kMaxGeneratedTerms));
    }
    if (reps < 1 || reps > 1000) fail("--reps must be from 1 to 1000");

    fs::create_directories(cacheDirectory);
    const fs::path cache = fs::absolute(cacheDirectory);
    const std::string settingsPath = (cache / kSettingsFileName).string();

    std::printf(
        "viewer_bench: QLMviewer on the %s platform, median of %d runs (steps 1 and 4) "
        "and of %d key presses (steps 2 and 3)\n",
        QApplication::platformName().toStdString().c_str(), reps, 4 * reps);
    std::fflush(stdout);
    const fs::path sampleData = cache / "sample";
    progress("importing the sample " + sampleDirectory + " into " + sampleData.string());
    importInto(sampleDirectory, sampleData);
    std::string generatedNote;
    const fs::path generatedData = generatedFolder(cache, termCount, generatedNote);
    progress(std::to_string(termCount) + " terms in " + generatedData.string() + " (" +
             generatedNote + ")");

    progress("sample");
    const FolderResult sample = runFolder(sampleData.string(), settingsPath, reps);
    progress(std::to_string(termCount) + " terms");
    const FolderResult generated = runFolder(generatedData.string(), settingsPath, reps);
    progress("rows a page: " + std::to_string(sample.pageRows) + " (sample), " +
             std::to_string(generated.pageRows) + " (" + std::to_string(termCount) + " terms)");

    const std::string generatedLabel = std::to_string(termCount) + "-term ms";
    std::printf("\n%-38s %10s %12s   %s\n", "step", "sample ms", generatedLabel.c_str(), "aim");
    printRow("1. start to first page shown", sample.firstPage, generated.firstPage, "< 300 ms");
    printRow("2. locate by a typed letter", sample.locate, generated.locate, "< 20 ms");
    printRow("3. page down", sample.pageDown, generated.pageDown, "< 10 ms");
    printRow("4. header re-sort: Status ascending", sample.sortAscending, generated.sortAscending,
             "");
    printRow("   Status again: descending", sample.sortDescending, generated.sortDescending, "");
    printRow("   Ctrl-click: back to key order", sample.keyOrder, generated.keyOrder, "");
    printProblems("sample", sample);
    printProblems((std::to_string(termCount) + " terms").c_str(), generated);
    return 0;
}
