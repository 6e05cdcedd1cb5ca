// The words of one text column and their level codes: code k is the k-th
// distinct word seen, in order of first appearance, for the life of the
// stream (across every block parsed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace textrows {

class Levels {
public:
    // The word's code; a word not seen before gets the next one.
    std::size_t code(std::string_view word);

    // The word's code, or SIZE_MAX when it is not known yet.
    std::size_t find(std::string_view word);

    std::size_t size() const { return words_.size(); }
    const std::string &word(std::size_t code) const { return words_[code]; }

private:
    static constexpr std::uint32_t empty = UINT32_MAX;

    void grow();
    std::size_t insert(std::string_view word, std::size_t slot);

    std::vector<std::string> words_;
    std::vector<std::uint64_t> hashes_;   // per code, to skip comparing most words
    std::vector<std::uint32_t> slots_;    // open addressing: a code, or empty
    std::size_t last_ = SIZE_MAX;         // the code found last: columns repeat words
};

}  // namespace textrows
