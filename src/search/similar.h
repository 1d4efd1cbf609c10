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

// Share of the words of the first list that occur in the second (letter case ignored), counted
// against the longer list. Not symmetric.
double WordSimilarity(const std::vector<std::string>& first,
                      const std::vector<std::string>& second);

// True when the pair passes the threshold.
inline bool IsSimilar(double similarity)
{
    return similarity > SimilarityThreshold;
}

} // namespace tunesift
