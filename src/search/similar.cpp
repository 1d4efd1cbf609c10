#include "search/similar.h"

#include "text/textcase.h"

#include <algorithm>

namespace tunesift {

std::vector<std::string> SplitWords(std::string_view text)
{
    std::vector<std::string> words;
    std::size_t space = text.find(' ');
    while (space != std::string_view::npos) {
        std::string word = LowerCase(text.substr(0, space));
        if (word != "and" && word != "of" && word != "the")
            words.push_back(std::move(word));
        text.remove_prefix(space + 1);
        space = text.find(' ');
    }
    words.emplace_back(text);
    return words;
}

namespace detail {

bool AppendComparedWord(std::string& out, std::string_view word, bool last)
{
    bool ascii = true;
    for (const char c : word)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (!ascii) {
        if (last) {
            out.append(UpperCase(word));
            return true;
        }
        const std::string lower = LowerCase(word);
        if (lower == "and" || lower == "of" || lower == "the")
            return false;
        out.append(UpperCase(lower));
        return true;
    }
    // For ASCII, lower- and then upper-casing is upper-casing.
    const std::size_t start = out.size();
    for (const char c : word)
        out.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c);
    const std::string_view upper = std::string_view(out).substr(start);
    if (!last && (upper == "AND" || upper == "OF" || upper == "THE")) {
        out.resize(start);
        return false;
    }
    return true;
}

} // namespace detail

double WordSimilarity(const std::vector<std::string>& first, const std::vector<std::string>& second)
{
    std::vector<std::string> secondUpper;
    secondUpper.reserve(second.size());
    for (const std::string& word : second)
        secondUpper.push_back(UpperCase(word));
    std::size_t matched = 0;
    for (const std::string& word : first) {
        const std::string upper = UpperCase(word);
        if (std::find(secondUpper.begin(), secondUpper.end(), upper) != secondUpper.end())
            ++matched;
    }
    const std::size_t longer = std::max(first.size(), second.size());
    if (longer == 0)
        return 0.0;
    return static_cast<double>(matched) / static_cast<double>(longer);
}

} // namespace tunesift
