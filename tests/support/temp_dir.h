// A fresh directory under the system's temporary directory, removed with everything in it when
// the object goes away.
#pragma once

#include <string>

namespace vellum::test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name
    std::string file(const std::string& name) const;

private:
    std::string path_;
};

// Whole contents of a file ("" when it does not exist) and writing one from bytes.
std::string readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, const std::string& bytes);

}  // namespace vellum::test
