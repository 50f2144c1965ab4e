// The platform's expression service: compiles a filter text (comparisons of fields and literals
// joined by AND, OR and NOT) into a filter that evaluates it on record images.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "vellum/filter_expression.h"

namespace vellum {

// The longest filter text compiled, in bytes.
constexpr size_t kMaxFilterTextLength = 64 * 1024;
// The deepest nesting of parentheses and NOTs compiled; deeper texts are syntax errors, so that
// neither compiling nor evaluating can run out of stack.
constexpr int kMaxFilterNesting = 200;

// The compiled filter, or none with *error set to kFilterSyntaxError or kFilterUnknownName
// (*error is 0 on success). A filter keeps its own copy of the variables it names.
std::unique_ptr<CompiledFilter> compileFilterText(std::string_view text,
                                                  std::span<const FilterVariable> variables,
                                                  int* error);

}  // namespace vellum
