// Reading a list control's format string column by column.
#include "browse_lists/list_format.h"

#include <cctype>

namespace vellum::viewer {

namespace {

class FormatReader {
  public:
    explicit FormatReader(std::string_view text) : text_(text) {}

    bool atEnd() const { return pos_ == text_.size(); }
    bool take(char c) {
        if (atEnd() || text_[pos_] != c) return false;
        ++pos_;
        return true;
    }
    std::optional<size_t> number() {
        size_t start = pos_;
        size_t value = 0;
        while (!atEnd() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
            value = value * 10 + static_cast<size_t>(text_[pos_++] - '0');
        }
        if (pos_ == start) return std::nullopt;
        return value;
    }
    // The text up to the closing delimiter, which is taken too.
    std::optional<std::string_view> upTo(char delimiter) {
        size_t end = text_.find(delimiter, pos_);
        if (end == std::string_view::npos) return std::nullopt;
        std::string_view part = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return part;
    }

  private:
    std::string_view text_;
    size_t pos_ = 0;
};

std::optional<ListColumn::Alignment> alignment(FormatReader& reader) {
    if (reader.take('L')) return ListColumn::Alignment::left;
    if (reader.take('R')) return ListColumn::Alignment::right;
    if (reader.take('C')) return ListColumn::Alignment::centre;
    return std::nullopt;
}

std::optional<ListColumn> column(FormatReader& reader) {
    ListColumn column;
    std::optional<size_t> width = reader.number();
    std::optional<ListColumn::Alignment> align = alignment(reader);
    if (!width || !align) return std::nullopt;
    column.width = static_cast<int>(*width);
    column.alignment = *align;
    if (reader.take('(') && (!reader.number() || !reader.take(')'))) return std::nullopt;
    reader.take('|');
    column.resizable = reader.take('M');
    std::optional<std::string_view> header;
    std::optional<std::string_view> picture;
    if (!reader.take('~') || !(header = reader.upTo('~'))) return std::nullopt;
    if (!reader.take('@') || !(picture = reader.upTo('@'))) return std::nullopt;
    column.header = std::string(*header);
    FormatReader pictureReader(*picture);
    std::optional<size_t> length;
    if (!pictureReader.take('s') || !(length = pictureReader.number()) || !pictureReader.atEnd()) {
        return std::nullopt;
    }
    column.pictureLength = *length;
    return column;
}

}  // namespace

std::optional<std::vector<ListColumn>> parseListFormat(std::string_view format) {
    FormatReader reader(format);
    std::vector<ListColumn> columns;
    while (!reader.atEnd()) {
        std::optional<ListColumn> next = column(reader);
        if (!next) return std::nullopt;
        columns.push_back(std::move(*next));
    }
    return columns;
}

}  // namespace vellum::viewer
