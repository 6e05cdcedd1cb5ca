// Reading a pattern's literal shape (literal_shape.hpp, whose soundness rule
// every step here keeps): the top level of the pattern is read item by item,
// as re reads it, and anything whose meaning is not certain (flags, an escape
// of unknown extent, an unclosed group) ends the reading with less claimed.
#include "toolbar/literal_shape.hpp"

#include <algorithm>

namespace toolbar {

namespace {

constexpr std::size_t not_found = std::u32string_view::npos;

bool is_ascii_alnum(char32_t ch) {
    return (ch >= U'0' && ch <= U'9') || (ch >= U'a' && ch <= U'z') || (ch >= U'A' && ch <= U'Z');
}

// Escapes of a letter that stand for one character class or position and
// take nothing after them (\x41, \u..., \N{...}, \1, \0... do).
bool is_single_letter_escape(char32_t ch) { return std::u32string_view(U"dDsSwWbBAZ").find(ch) != not_found; }

// Index just past the set that opens at p[at] == '['. As re reads a set,
// a ']' right after '[' or '[^' is a member, and a set has no nested sets.
std::size_t past_set(std::u32string_view p, std::size_t at) {
    std::size_t i = at + 1;
    if (i < p.size() && p[i] == U'^') ++i;
    if (i < p.size() && p[i] == U']') ++i;
    while (i < p.size()) {
        if (p[i] == U'\\') {
            i += 2;
        } else if (p[i] == U']') {
            return i + 1;
        } else {
            ++i;
        }
    }
    return not_found;
}

// Group kinds whose body is an ordinary pattern and that change no flag:
// (?: (?= (?! (?<= (?<! (?> (?P< (?P=. Flags ((?i), (?x:...)), comments and
// conditionals are not understood here.
bool is_plain_extension(std::u32string_view p, std::size_t at) {
    std::u32string_view rest = p.substr(at + 2);
    for (std::u32string_view known : {U":", U"=", U"!", U"<=", U"<!", U">", U"P<", U"P="}) {
        if (rest.substr(0, known.size()) == known) return true;
    }
    return false;
}

// Index just past the group that opens at p[at] == '(', or not_found when it
// does not close or holds something not understood.
std::size_t past_group(std::u32string_view p, std::size_t at) {
    int depth = 0;
    std::size_t i = at;
    while (i < p.size()) {
        char32_t ch = p[i];
        if (ch == U'\\') {
            i += 2;
        } else if (ch == U'[') {
            i = past_set(p, i);
            if (i == not_found) return not_found;
        } else if (ch == U'(') {
            if (i + 1 < p.size() && p[i + 1] == U'?' && !is_plain_extension(p, i)) return not_found;
            ++depth;
            ++i;
        } else if (ch == U')') {
            ++i;
            if (--depth == 0) return i;
        } else {
            ++i;
        }
    }
    return not_found;
}

// The rest of a pattern, from `at`, holds no '|' outside sets and groups, and
// its sets and groups are understood.
bool is_sequence_from(std::u32string_view p, std::size_t at) {
    std::size_t i = at;
    while (i < p.size()) {
        if (p[i] == U'\\') {
            i += 2;
        } else if (p[i] == U'[') {
            i = past_set(p, i);
        } else if (p[i] == U'(') {
            i = past_group(p, i);
        } else if (p[i] == U'|' || p[i] == U')') {
            return false;
        } else {
            ++i;
        }
        if (i == not_found) return false;
    }
    return true;
}

struct Item {
    bool literal;
    char32_t ch;
    bool repeated = false;  // followed by a quantifier
};

// The top level of a pattern as items: literal characters and anything else.
// `complete` is false when reading stopped early, at something whose extent
// is not known (a '{', an escape such as \x41); the items read so far hold
// as long as the rest has no top-level '|'. Returns false when the pattern is
// not a plain sequence (a top-level '|') or is not understood.
bool read_items(std::u32string_view p, std::vector<Item> &items, bool &complete) {
    complete = true;
    std::size_t i = 0;
    while (i < p.size()) {
        char32_t ch = p[i];
        switch (ch) {
        case U'|':
        case U')':
            return false;
        case U'{':  // maybe a quantifier of the item before, maybe a literal '{'
            if (!items.empty()) items.back().repeated = true;
            complete = false;
            return is_sequence_from(p, i + 1);
        case U'*':
        case U'+':
        case U'?':
            if (!items.empty()) items.back().repeated = true;
            items.push_back({false, ch});
            ++i;
            break;
        case U'\\':
            if (i + 1 >= p.size()) return false;
            if (!is_ascii_alnum(p[i + 1])) {
                items.push_back({true, p[i + 1]});
            } else if (is_single_letter_escape(p[i + 1])) {
                items.push_back({false, p[i + 1]});
            } else {
                complete = false;
                return is_sequence_from(p, i + 2);
            }
            i += 2;
            break;
        case U'[':
            i = past_set(p, i);
            if (i == not_found) return false;
            items.push_back({false, ch});
            break;
        case U'(':
            i = past_group(p, i);
            if (i == not_found) return false;
            items.push_back({false, ch});
            break;
        case U'.':
        case U'^':
        case U'$':
            items.push_back({false, ch});
            ++i;
            break;
        default:
            items.push_back({true, ch});
            ++i;
        }
    }
    return true;
}

}  // namespace

// A match covers the text its top-level items consume, one after the other;
// a literal item that is not repeated consumes exactly its character. So a
// run of such items is a piece of every accepted text, at its start when the
// run opens the pattern and at its end when it closes the whole pattern.
LiteralShape literal_shape(std::u32string_view pattern) {
    LiteralShape shape;
    std::vector<Item> items;
    bool complete = false;
    if (!read_items(pattern, items, complete)) return shape;

    std::u32string run;
    std::size_t run_start = 0;
    for (std::size_t k = 0; k <= items.size(); ++k) {
        bool in_run = k < items.size() && items[k].literal && !items[k].repeated;
        if (in_run) {
            if (run.empty()) run_start = k;
            run.push_back(items[k].ch);
            continue;
        }
        if (run.empty()) continue;
        // A run that opens the pattern is checked as the prefix, row by row.
        if (run_start == 0) {
            shape.prefix = run;
        } else if (k == items.size() && complete) {
            shape.suffix = run;
        } else {
            shape.inner.push_back(run);
        }
        run.clear();
    }
    bool all_literal = std::all_of(items.begin(), items.end(), [](const Item &item) { return item.literal && !item.repeated; });
    shape.exact = complete && all_literal;
    return shape;
}

}  // namespace toolbar
