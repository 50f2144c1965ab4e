// The generator. Everything about a term is a function of its index (through a 64-bit mix), so
// a term's name can be made again wherever another term refers to it. A name is a word of four
// syllables from a scrambled base-60 code of the index, which keeps names distinct, then an
// object and sometimes a qualifier with a comma or quotes.
#include "qlmtool/generator.h"

#include <array>
#include <filesystem>
#include <fstream>
#include <vector>

#include "dictionary/thesaurus_tables.h"
#include "qlmtool/csv.h"
#include "qlmtool/thesaurus_files.h"

namespace vellum::qlmtool {

namespace {

// Every syllable is two characters and none equals another, so the word gives back the code.
constexpr std::array<const char*, 60> kSyllables = {
    "ba", "be", "bi", "bo", "bu", "da", "de", "di", "do", "du", "fa", "fe", "fi", "fo", "fu",
    "ga", "gé", "gi", "go", "gu", "ka", "ke", "ki", "ko", "ku", "la", "lè", "li", "lo", "lu",
    "ma", "me", "mi", "mo", "mu", "ña", "ne", "ni", "no", "nu", "pa", "pe", "pi", "pô", "pu",
    "ra", "re", "ri", "ro", "ru", "sa", "se", "si", "so", "su", "ta", "te", "ti", "to", "tü"};
constexpr uint64_t kCodeSpace = 60ull * 60 * 60 * 60;
constexpr uint64_t kScramble = 7'777'777;  // prime to 60, so i * kScramble is a bijection

constexpr std::array<const char*, 24> kObjects = {
    "bowl",  "chair",  "lamp",    "jug",    "clock",       "spoon",     "box",      "vase",
    "stool", "basket", "kettle",  "mirror", "candlestick", "tray",      "ladle",    "chest",
    "dish",  "bottle", "cabinet", "cup",    "fire screen", "tea caddy", "inkstand", "sewing box"};
constexpr std::array<const char*, 4> kQualifiers = {", miniature", ", folding", ", \"ladder-back\"",
                                                    ", travelling"};
constexpr std::array<const char*, 12> kPhrases = {
    "made of turned wood",
    "often painted or gilded",
    "used in the kitchen and at table",
    "found in farmhouses as well as in town houses",
    "sometimes with a lid, a spout or a handle",
    "the form changed little over two centuries",
    "examples in pewter, brass and silver are known",
    "listed in inventories as \"best\" or \"second best\"",
    "kept on an étagère or in a side cabinet",
    "compare the entries for similar pieces",
    "usually sold in pairs or in sets",
    "repairs with wire or rivets are common"};
constexpr std::array<const char*, 40> kKeywords = {
    "furniture",   "seating", "storage",   "kitchen",     "dining",  "lighting", "heating",
    "timekeeping", "textile", "ceramic",   "glass",       "pewter",  "brass",    "silver",
    "oak",         "walnut",  "mahogany",  "pine",        "wicker",  "leather",  "iron",
    "tin",         "copper",  "porcelain", "earthenware", "writing", "sewing",   "toilet",
    "bedroom",     "parlour", "hall",      "garden",      "dairy",   "laundry",  "nursery",
    "travel",      "tea",     "drink",     "decoration",  "café"};

uint64_t mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A pseudo-random number for one purpose of one term.
uint64_t draw(uint64_t term, uint64_t purpose) {
    return mix(term * 64 + purpose);
}

std::string termName(uint64_t term) {
    uint64_t code = (term * kScramble + 12345) % kCodeSpace;
    std::string name;
    for (int s = 0; s < 4; ++s, code /= 60) name += kSyllables[code % 60];
    uint64_t look = draw(term, 1);
    // One name in ten keeps its lower-case start, as do those starting with a letter outside
    // A to Z.
    if (look % 10 != 0 && name[0] >= 'a' && name[0] <= 'z')
        name[0] = static_cast<char>(name[0] - 32);
    name += ' ';
    name += kObjects[look / 10 % kObjects.size()];
    if (look / 1000 % 100 < 8) name += kQualifiers[look / 100000 % kQualifiers.size()];
    return name;
}

uint64_t termId(uint64_t term) {
    return term < kLastTermId ? term + 1 : 0;
}

bool nonPreferred(uint64_t term) {
    return term != 0 && draw(term, 2) % 100 < 15;
}

// Another term than term, chosen for purpose (count at least 2).
uint64_t otherTerm(uint64_t term, uint64_t purpose, uint64_t count) {
    return (term + 1 + draw(term, purpose) % (count - 1)) % count;
}

// The preferred term a non-preferred one refers to (term 0 is always preferred).
uint64_t preferredTerm(uint64_t term, uint64_t count) {
    uint64_t other = otherTerm(term, 3, count);
    while (nonPreferred(other)) other = (other + 1) % count;
    return other;
}

// A note of whole sentences made of phrases: as many as fit in length bytes, at least one.
std::string note(uint64_t term, size_t length) {
    std::string text;
    for (uint64_t n = 0;; ++n) {
        uint64_t pick = draw(term, 16 + n);
        uint64_t first = pick % kPhrases.size();
        std::string sentence = kPhrases[first];
        sentence[0] = static_cast<char>(sentence[0] - 32);
        sentence += pick / 16 % 2 == 0 ? ", " : "; ";
        sentence += kPhrases[(first + 1 + pick / 32 % (kPhrases.size() - 1)) % kPhrases.size()];
        sentence += ".";
        if (!text.empty() && text.size() + 1 + sentence.size() > length) return text;
        text += (text.empty() ? "" : " ") + sentence;
    }
}

std::string notesOf(uint64_t term, uint64_t count) {
    if (nonPreferred(term)) return "Use " + termName(preferredTerm(term, count)) + ".";
    uint64_t pick = draw(term, 6);
    if (pick % 100 < 2) return {};
    if (pick % 100 < 7) return note(term, 400 + pick / 100 % 590);
    return note(term, 40 + pick / 100 % 160);
}

const char* relationship(uint64_t term) {
    uint64_t pick = draw(term, 5) % 100;
    return pick < 80 ? "Related term" : pick < 92 ? "Broader term" : "Narrower term";
}

std::vector<std::string> header(const ThesaurusFile& file) {
    TableDeclaration declaration = file.declare("");
    std::vector<std::string> names;
    for (const FieldSpec& declared : declaration.fields()) names.push_back(columnName(declared));
    return names;
}

}  // namespace

Outcome generateThesaurus(uint64_t termCount, const std::string& csvDirectory) {
    std::error_code ignored;
    if (!csvDirectory.empty()) std::filesystem::create_directories(csvDirectory, ignored);
    const auto& files = thesaurusFiles();
    std::array<std::ofstream, 3> outs;
    std::array<std::string, 3> paths;
    for (size_t i = 0; i < files.size(); ++i) {
        paths[i] = thesaurus::fileIn(csvDirectory, files[i].csvName);
        outs[i].open(paths[i], std::ios::binary | std::ios::trunc);
        writeCsvRecord(outs[i], header(files[i]));
    }
    std::ofstream& terms = outs[0];
    std::ofstream& keywords = outs[1];
    std::ofstream& related = outs[2];

    uint64_t keywordId = 0;
    uint64_t relatedId = 0;
    for (uint64_t term = 0; term < termCount; ++term) {
        std::string name = termName(term);
        std::string id = std::to_string(termId(term));
        writeCsvRecord(terms, {id, name, nonPreferred(term) ? "Non-preferred" : "Preferred",
                               notesOf(term, termCount)});
        uint64_t first = draw(term, 8);
        uint64_t words = 2 + draw(term, 7) % 3;
        for (uint64_t k = 0; k < words; ++k) {
            // Steps of 7 through 40 words give distinct words to one term.
            writeCsvRecord(keywords, {std::to_string(++keywordId),
                                      kKeywords[(first + 7 * k) % kKeywords.size()], id});
        }
        if (termCount < 2) continue;
        if (nonPreferred(term)) {
            writeCsvRecord(related, {std::to_string(++relatedId), name,
                                     termName(preferredTerm(term, termCount)), "Use"});
        } else {
            writeCsvRecord(related, {std::to_string(++relatedId), name,
                                     termName(otherTerm(term, 4, termCount)), relationship(term)});
        }
    }

    for (size_t i = 0; i < files.size(); ++i) {
        outs[i].close();
        if (!outs[i]) return {kInputError, paths[i] + ": cannot be written"};
    }
    return {kSuccess, std::to_string(termCount) + " terms, " + std::to_string(keywordId) +
                          " keywords and " + std::to_string(relatedId) +
                          " related pairs written to " + paths[0] + ", " + paths[1] + " and " +
                          paths[2] + "\n"};
}

}  // namespace vellum::qlmtool
