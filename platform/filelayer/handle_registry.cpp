// The handle registry.
#include "filelayer/handle_registry.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace vellum {

namespace {

struct Registered {
    void* object;
    HandleKind kind;
};

std::mutex registryMutex;
std::map<uint32_t, Registered> byHandle;
std::map<const void*, uint32_t> byObject;
uint32_t lastHandle = 0;

}  // namespace

std::string handleOf(const void* object, HandleKind kind) {
    std::lock_guard<std::mutex> hold(registryMutex);
    auto found = byObject.find(object);
    if (found != byObject.end()) return std::to_string(found->second);
    uint32_t handle = ++lastHandle;
    byHandle[handle] = {const_cast<void*>(object), kind};
    byObject[object] = handle;
    return std::to_string(handle);
}

void* objectOf(std::string_view text, HandleKind kind) {
    if (text.empty() || text.size() > 10) return nullptr;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return nullptr;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    std::lock_guard<std::mutex> hold(registryMutex);
    auto found = byHandle.find(static_cast<uint32_t>(number));
    if (number > UINT32_MAX || found == byHandle.end() || found->second.kind != kind) {
        return nullptr;
    }
    return found->second.object;
}

void dropHandle(const void* object) {
    std::lock_guard<std::mutex> hold(registryMutex);
    auto found = byObject.find(object);
    if (found == byObject.end()) return;
    byHandle.erase(found->second);
    byObject.erase(found);
}

}  // namespace vellum
