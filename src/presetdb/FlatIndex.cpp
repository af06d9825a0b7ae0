#include "presetdb/FlatIndex.h"

namespace torvex::presetdb {

std::uint64_t FlatIndex::Hash(std::string_view text) {
    // FNV-1a, then mixed so that the low bits that pick the slot vary well.
    std::uint64_t h = 0xcbf29ce484222325ULL;
    for (char c : text)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001b3ULL;
    return Combine(h, 0);
}

std::uint64_t FlatIndex::Combine(std::uint64_t a, std::uint64_t b) {
    std::uint64_t h = a ^ (b + 0x9E3779B97F4A7C15ULL + (a << 6) + (a >> 2));
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    return h;
}

void FlatIndex::Reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    if (capacity > slots_.size())
        Grow(capacity);
}

void FlatIndex::Grow(std::size_t capacity) {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    mask_ = capacity - 1;
    count_ = 0;
    for (const Slot& slot : old)
        if (slot.value != kEmpty)
            Insert(slot.hash, slot.value);
}

void FlatIndex::Insert(std::uint64_t hash, std::uint32_t value) {
    if ((count_ + 1) * 2 > slots_.size())
        Grow(slots_.empty() ? 16 : slots_.size() * 2);
    std::size_t i = hash & mask_;
    while (slots_[i].value != kEmpty)
        i = (i + 1) & mask_;
    slots_[i] = Slot{hash, value};
    ++count_;
}

} // namespace torvex::presetdb
