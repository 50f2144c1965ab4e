// Fields of the header page, size classes and the end of pages.
#include "pagestore/header_page.h"

#include <cstring>

#include "vellum/byte_order.h"
#include "vellum/fatal.h"

namespace vellum {

namespace {
constexpr uint8_t kMagic[4] = {0x76, 0x45, 0x6C, 0x4D};  // "vElM"
}

HeaderPage::HeaderPage() { store16le(bytes_.data() + 4, kHeaderSize); }

bool HeaderPage::hasMagic() const { return std::memcmp(bytes_.data() + 14, kMagic, 4) == 0; }
void HeaderPage::setMagic() { std::memcpy(bytes_.data() + 14, kMagic, 4); }
void HeaderPage::clearMagic() { std::memset(bytes_.data() + 14, 0, 4); }

unsigned HeaderPage::sizeClassOf(int32_t page) const {
    if (page < 0) return 0;
    uint32_t n = static_cast<uint32_t>(page);
    for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
        if (rangeStart(k) <= n && n < rangeEnd(k)) return k;
    }
    fatal(1735);
}

bool HeaderPage::rangesAreSound() const {
    if (rangeStart(0) != 0 || rangeEnd(0) != 0) return false;
    for (unsigned k = 1; k <= kMaxSizeClass; ++k) {
        if (rangeEnd(k) < rangeStart(k) || (rangeEnd(k) - rangeStart(k)) % k != 0) return false;
        if (rangeStart(k) < rangeEnd(k - 1)) return false;
    }
    return true;
}

uint64_t HeaderPage::endOfPages() const {
    for (unsigned k = kMaxSizeClass; k >= 1; --k) {
        if (rangeEnd(k) != rangeStart(k)) return kHeaderSize + 256 * uint64_t{rangeEnd(k)};
    }
    return kHeaderSize + 256 * uint64_t{rangeEnd(0)};
}

uint32_t HeaderPage::get32(unsigned at) const { return load32le(bytes_.data() + at); }

void HeaderPage::put32(unsigned at, uint32_t value) { store32le(bytes_.data() + at, value); }

}  // namespace vellum
