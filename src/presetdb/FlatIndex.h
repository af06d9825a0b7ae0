#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace torvex::presetdb {

// A hash index from 64-bit hashes to 32-bit numbers (positions in the
// caller's own table), kept in one flat array: a lookup touches one or two
// cache lines, where a node-based map would chase pointers through memory.
// Different keys may share a hash, so the caller checks every candidate.
class FlatIndex {
public:
    // Makes room for `count` entries without growing.
    void Reserve(std::size_t count);
    void Insert(std::uint64_t hash, std::uint32_t value);

    // Calls `visit(value)` for every value stored under `hash` until it returns true.
    template <class Visit> bool Find(std::uint64_t hash, Visit&& visit) const {
        if (slots_.empty())
            return false;
        for (std::size_t i = hash & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (slot.value == kEmpty)
                return false;
            if (slot.hash == hash && visit(slot.value))
                return true;
        }
    }

    static std::uint64_t Hash(std::string_view text);
    static std::uint64_t Combine(std::uint64_t a, std::uint64_t b);

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t value = kEmpty;
    };
    static constexpr std::uint32_t kEmpty = 0xFFFFFFFFu;
    void Grow(std::size_t capacity);

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

} // namespace torvex::presetdb
