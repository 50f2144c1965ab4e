// Writes the seed corpus of the fuzz target: small valid table files made through the engine,
// one file per seed, into the directory given as the only argument.
#include <cstdio>
#include <fstream>

#include "fuzz/open_and_walk.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    for (const vellum::fuzz::SeedFile& seed : vellum::fuzz::makeSeedFiles()) {
        std::string path = std::string(argv[1]) + "/" + seed.name + ".vlm";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()),
                  static_cast<std::streamsize>(seed.bytes.size()));
        if (!out) {
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
            return 1;
        }
        std::printf("%s: %zu bytes\n", path.c_str(), seed.bytes.size());
    }
    return 0;
}
