#include "textrows/levels.hpp"

namespace textrows {
namespace {

// FNV-1a: words are short, and a column holds few of them.
std::uint64_t hash_of(std::string_view word) {
    std::uint64_t hash = 14695981039346656037ull;
    for (char c : word) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return hash;
}

constexpr std::size_t first_slots = 16;

}  // namespace

std::size_t Levels::code(std::string_view word) {
    if (last_ != SIZE_MAX && words_[last_] == word) return last_;
    if (slots_.empty()) slots_.assign(first_slots, empty);
    std::uint64_t hash = hash_of(word);
    // Invariant: at most half the slots are taken, so every probe ends.
    std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        std::uint32_t code = slots_[slot];
        if (code == empty) return last_ = insert(word, slot);
        if (hashes_[code] == hash && words_[code] == word) return last_ = code;
    }
}

std::size_t Levels::find(std::string_view word) {
    if (slots_.empty()) return SIZE_MAX;
    std::uint64_t hash = hash_of(word);
    if (last_ != SIZE_MAX && hashes_[last_] == hash && words_[last_] == word) return last_;
    std::size_t mask = slots_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        std::uint32_t code = slots_[slot];
        if (code == empty) return SIZE_MAX;
        if (hashes_[code] == hash && words_[code] == word) return last_ = code;
    }
}

std::size_t Levels::insert(std::string_view word, std::size_t slot) {
    auto code = static_cast<std::uint32_t>(words_.size());
    words_.emplace_back(word);
    hashes_.push_back(hash_of(word));
    slots_[slot] = code;
    if (2 * words_.size() > slots_.size()) grow();
    return code;
}

void Levels::grow() {
    slots_.assign(2 * slots_.size(), empty);
    std::size_t mask = slots_.size() - 1;
    for (std::uint32_t code = 0; code < words_.size(); ++code) {
        std::size_t slot = hashes_[code] & mask;
        while (slots_[slot] != empty) slot = (slot + 1) & mask;
        slots_[slot] = code;
    }
}

}  // namespace textrows
