// The installed file layer.
#include "vellum/file_layer_services.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace vellum {

namespace {
std::atomic<FileLayerServices*> installed{nullptr};
}

FileLayerServices& fileLayer() {
    FileLayerServices* services = installed.load();
    if (services == nullptr) {
        std::fprintf(stderr, "the driver entry was called before a file layer was installed\n");
        std::abort();
    }
    return *services;
}

void installFileLayer(FileLayerServices* services) { installed.store(services); }

}  // namespace vellum
