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

FileLayerServices* installFileLayer(FileLayerServices* services) {
    return installed.exchange(services);
}

void installFileLayerIfNone(FileLayerServices* services) {
    FileLayerServices* none = nullptr;
    installed.compare_exchange_strong(none, services);
}

}  // namespace vellum
