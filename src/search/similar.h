#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// A pair of texts is similar when the share of matched words is strictly above this.
inline constexpr double SimilarityThreshold = 0.9;

// The words of a text, cut at space characters only. Every word but the last is lower-cased and
// dropped when it is "and", "of" or "the"; the last word is kept as it is, even when empty, so
// the list is never empty.
std::vector<std::string> SplitWords(std::string_view text);

// The words of SplitWords(text), each upper-cased as WordSimilarity compares it, handed to
// use(std::string_view) one by one (the text handed on lives until the next call). Plain ASCII
// words are folded in place, without the lists and strings SplitWords makes.
template <typename Use>
void ForEachComparedWord(std::string_view text, Use use);

// Share of the words of the first list that occur in the second (letter case ignored), counted
// against the longer list. Not symmetric.
double WordSimilarity(const std::vector<std::string>& first,
                      const std::vector<std::string>& second);

// True when the pair passes the threshold.
inline bool IsSimilar(double similarity)
{
    return similarity > SimilarityThreshold;
}

namespace detail {

// Appends the word as compared to out: UpperCase(LowerCase(word)) for a word before the last
// (which SplitWords lower-cases), UpperCase(word) for the last. False for a word before the last
// that SplitWords drops.
bool AppendComparedWord(std::string& out, std::string_view word, bool last);

} // namespace detail

template <typename Use>
void ForEachComparedWord(std::string_view text, Use use)
{
    std::string folded;
    for (;;) {
        const std::size_t space = text.find(' ');
        const bool last = space == std::string_view::npos;
        folded.clear();
        if (detail::AppendComparedWord(folded, last ? text : text.substr(0, space), last))
            use(std::string_view(folded));
        if (last)
            return;
        text.remove_prefix(space + 1);
    }
}

} // namespace tunesift
