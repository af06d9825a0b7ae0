#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace torvex::platform {

// A set of numbers (below 2^32 - 1) kept by a hash of a name that belongs to
// each, with open addressing in one array: no allocation per entry. The
// caller keeps the names and tells on lookup which number's name is the one
// sought; numbers whose names hash alike are all kept.
class NameIndex {
public:
    static constexpr std::uint32_t npos = ~std::uint32_t{0};

    // Empties the index and makes room for `count` entries.
    void Clear(std::size_t count) {
        std::size_t size = 16;
        while (size < 2 * count)
            size *= 2;
        slots_.assign(size, {0, npos});
        used_ = 0;
    }

    // The first number with hash `hash` for which same(number) is true, or npos.
    template <class Same> std::uint32_t Find(std::uint32_t hash, Same&& same) const {
        if (slots_.empty())
            return npos;
        for (std::size_t i = Start(hash);; i = (i + 1) & (slots_.size() - 1)) {
            const auto& [h, number] = slots_[i];
            if (number == npos)
                return npos;
            if (h == hash && same(number))
                return number;
        }
    }

    void Insert(std::uint32_t hash, std::uint32_t number) {
        assert(number != npos); // npos marks a free slot
        if (2 * (used_ + 1) > slots_.size()) {
            std::vector<std::pair<std::uint32_t, std::uint32_t>> old = std::move(slots_);
            Clear(used_ + 1);
            for (const auto& [h, n] : old)
                if (n != npos)
                    Insert(h, n);
        }
        std::size_t i = Start(hash);
        while (slots_[i].second != npos)
            i = (i + 1) & (slots_.size() - 1);
        slots_[i] = {hash, number};
        ++used_;
    }

private:
    std::size_t Start(std::uint32_t hash) const {
        return static_cast<std::size_t>((std::uint64_t{hash} * 0x9E3779B97F4A7C15ull) >> 32) &
               (slots_.size() - 1);
    }

    std::vector<std::pair<std::uint32_t, std::uint32_t>> slots_;
    std::size_t used_ = 0;
};

} // namespace torvex::platform
