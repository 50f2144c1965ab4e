// The format string of a list control: one group per column, as in
// "100L(2)|M~Term~@s50@": the width in dialog units, the alignment (L, R or C), an optional
// indent in brackets, the bar for a line at the column's right edge, M for a column the user
// may widen, the header text between tildes and the display picture between at-signs (sN: text
// of up to N characters). Qt's table draws the grid lines and the cell padding itself, so the
// indent and the bar are read and not kept.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum::viewer {

struct ListColumn {
    enum class Alignment { left, right, centre };

    int width = 0;  // dialog units
    Alignment alignment = Alignment::left;
    bool resizable = false;
    std::string header;
    size_t pictureLength = 0;  // the most characters shown

    bool operator==(const ListColumn&) const = default;
};

// The columns of a format string, in order; nothing when the string does not follow the form.
std::optional<std::vector<ListColumn>> parseListFormat(std::string_view format);

}  // namespace vellum::viewer
