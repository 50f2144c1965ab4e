// Reading, changing and atomically writing INI files, line by line.
#include "ini/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "os/file_system.h"

namespace vellum {

namespace {

std::string_view trim(std::string_view text) {
    size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string_view::npos) return {};
    size_t end = text.find_last_not_of(" \t");
    return text.substr(begin, end - begin + 1);
}

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
        char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
        if (x != y) return false;
    }
    return true;
}

// The name of a "[Section]" line.
std::optional<std::string_view> headerName(std::string_view line) {
    std::string_view text = trim(line);
    if (text.empty() || text.front() != '[') return std::nullopt;
    size_t close = text.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trim(text.substr(1, close - 1));
}

struct EntryLine {
    std::string_view key;
    std::string_view value;
};

// The key and value of a "Key=Value" line; comments, blank lines and lines without a key are none.
std::optional<EntryLine> entryOf(std::string_view line) {
    std::string_view text = trim(line);
    if (text.empty() || text.front() == ';' || text.front() == '#') return std::nullopt;
    size_t equals = text.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    std::string_view key = trim(text.substr(0, equals));
    if (key.empty()) return std::nullopt;
    return EntryLine{key, trim(text.substr(equals + 1))};
}

std::string entryText(std::string_view key, std::string_view value) {
    std::string line(key);
    line += '=';
    line += value;
    return line;
}

// Writes all of text to fd; 0 or the platform's error code.
int writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written < 0) {
            if (errno == EINTR) continue;
            return os::errorFromErrno(errno);
        }
        done += static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace

SettingsFile::SettingsFile(std::string path) : path_(std::move(path)) {}

int SettingsFile::load() {
    lines_.clear();
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : os::errorFromErrno(errno);
    std::string text;
    char buffer[4096];
    int error = 0;
    for (;;) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) error = os::errorFromErrno(errno);
        if (count <= 0) break;
        text.append(buffer, static_cast<size_t>(count));
    }
    ::close(fd);
    if (error != 0) return error;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(std::move(line));
        start = end + 1;
    }
    return 0;
}

int SettingsFile::save() const {
    std::string text;
    for (const std::string& line : lines_) text += line + '\n';
    std::string temporary = path_ + ".XXXXXX";
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return os::errorFromErrno(errno);
    // The new file keeps the mode of the one it replaces; a first file is readable by others.
    struct stat old {};
    mode_t mode = ::stat(path_.c_str(), &old) == 0 ? old.st_mode & 07777 : 0644;
    int error = ::fchmod(fd, mode) == 0 ? 0 : os::errorFromErrno(errno);
    if (error == 0) error = writeAll(fd, text);
    if (error == 0 && ::fsync(fd) != 0) error = os::errorFromErrno(errno);
    if (::close(fd) != 0 && error == 0) error = os::errorFromErrno(errno);
    if (error == 0 && std::rename(temporary.c_str(), path_.c_str()) != 0) {
        error = os::errorFromErrno(errno);
    }
    if (error != 0) ::unlink(temporary.c_str());
    return error;
}

size_t SettingsFile::sectionLine(std::string_view section) const {
    for (size_t i = 0; i < lines_.size(); ++i) {
        std::optional<std::string_view> name = headerName(lines_[i]);
        if (name && equalNoCase(*name, section)) return i;
    }
    return lines_.size();
}

size_t SettingsFile::sectionEnd(size_t header) const {
    size_t line = header + 1;
    while (line < lines_.size() && !headerName(lines_[line])) ++line;
    return line;
}

size_t SettingsFile::keyLine(std::string_view section, std::string_view key) const {
    size_t header = sectionLine(section);
    if (header == lines_.size()) return lines_.size();
    size_t end = sectionEnd(header);
    for (size_t line = header + 1; line < end; ++line) {
        std::optional<EntryLine> entry = entryOf(lines_[line]);
        if (entry && equalNoCase(entry->key, key)) return line;
    }
    return lines_.size();
}

std::optional<std::string> SettingsFile::find(std::string_view section,
                                              std::string_view key) const {
    size_t line = keyLine(section, key);
    if (line == lines_.size()) return std::nullopt;
    return std::string(entryOf(lines_[line])->value);
}

std::string SettingsFile::read(std::string_view section, std::string_view key,
                               std::string_view fallback) const {
    return find(section, key).value_or(std::string(fallback));
}

void SettingsFile::write(std::string_view section, std::string_view key, std::string_view value) {
    if (size_t line = keyLine(section, key); line != lines_.size()) {
        lines_[line] = entryText(key, value);
        return;
    }
    size_t header = sectionLine(section);
    if (header == lines_.size()) {
        if (!lines_.empty() && !trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(entryText(key, value));
        return;
    }
    // After the section's last entry, so blank lines and comments before the next section stay
    // between the two sections.
    size_t insert = header + 1;
    size_t end = sectionEnd(header);
    for (size_t line = header + 1; line < end; ++line) {
        if (entryOf(lines_[line])) insert = line + 1;
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), entryText(key, value));
}

void SettingsFile::remove(std::string_view section, std::string_view key) {
    size_t line = keyLine(section, key);
    if (line != lines_.size()) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
}

std::vector<std::string> SettingsFile::sections() const {
    std::vector<std::string> names;
    for (const std::string& line : lines_) {
        if (std::optional<std::string_view> name = headerName(line)) names.emplace_back(*name);
    }
    return names;
}

std::vector<std::string> SettingsFile::keys(std::string_view section) const {
    std::vector<std::string> names;
    size_t header = sectionLine(section);
    if (header == lines_.size()) return names;
    size_t end = sectionEnd(header);
    for (size_t line = header + 1; line < end; ++line) {
        if (std::optional<EntryLine> entry = entryOf(lines_[line])) names.emplace_back(entry->key);
    }
    return names;
}

}  // namespace vellum
