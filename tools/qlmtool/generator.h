// Synthetic thesauri of any size, for loading the engine and the viewer with large data: the
// same three CSV files the import reads, made deterministically from the number of terms.
#pragma once

#include <cstdint>
#include <string>

#include "qlmtool/outcome.h"

namespace vellum::qlmtool {

// Term names are unique up to this many terms (60 syllables, four to a name).
inline constexpr uint64_t kMaxGeneratedTerms = 12'960'000;

// TermID is a DECIMAL of 5 digits: terms after the first 99999 get TermID 0, which the OPT key
// on TermID leaves out, and their keywords point to TermID 0.
inline constexpr uint64_t kLastTermId = 99'999;

// Writes terms.csv, keywords.csv and related.csv for termCount terms (1 to kMaxGeneratedTerms)
// into csvDirectory (made when missing). Names are distinct when letter case is ignored; about
// 15 % of the terms are non-preferred, each with a note "Use ..." and a related pair of
// relationship Use naming its preferred term; every term has 2 to 4 keywords (3 on average) and
// one related pair (none when there is a single term); about 5 % of the notes are longer than 255
// characters and 2 % are empty. A file that cannot be written is an input error.
Outcome generateThesaurus(uint64_t termCount, const std::string& csvDirectory);

}  // namespace vellum::qlmtool
