#include "search/similar.h"

#include "search/textcase.h"

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
