// A settings file in the INI format: "[Section]" lines, each followed by "Key=Value" lines.
// Sections and keys match without regard to letter case, as private-profile files do; blanks
// around names and values are ignored, and lines starting with ';' or '#' are comments. The
// file is kept as its lines, so writing one entry leaves every other line (other sections,
// comments, blank lines and their order) as it was. Saving writes a temporary file beside the
// target and renames it over the target, so a reader sees either the old file or the new one.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vellum {

class SettingsFile {
  public:
    explicit SettingsFile(std::string path);

    const std::string& path() const { return path_; }

    // Reads the file; a missing file reads as an empty one. 0 or the platform's error code.
    int load();
    // Writes the lines to the file. 0 or the platform's error code.
    int save() const;

    // The value of an entry, or nothing when the section or the key is missing.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;
    std::string read(std::string_view section, std::string_view key,
                     std::string_view fallback = "") const;
    // Sets an entry: the existing line is replaced, a new key goes after the section's last
    // entry, a new section goes to the end of the file.
    void write(std::string_view section, std::string_view key, std::string_view value);
    // Removes an entry; nothing happens when there is none.
    void remove(std::string_view section, std::string_view key);

    std::vector<std::string> sections() const;
    std::vector<std::string> keys(std::string_view section) const;

  private:
    // Index of the section's header line, or lines_.size() when there is none.
    size_t sectionLine(std::string_view section) const;
    // End of the section that starts at header: the next header or the end of the file.
    size_t sectionEnd(size_t header) const;
    // Index of the key's line inside the section, or lines_.size() when there is none.
    size_t keyLine(std::string_view section, std::string_view key) const;

    std::string path_;
    std::vector<std::string> lines_;
};

}  // namespace vellum
