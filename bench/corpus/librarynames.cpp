#include "librarynames.h"

namespace tunesift::corpus {
namespace {

std::string capitalised(std::string word)
{
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') {
        word[0] = static_cast<char>(word[0] - 'a' + 'A');
    }
    return word;
}

} // namespace

std::string makeWord(bench::Rng& rng)
{
    std::string word;
    const int syllables = rng.between(1, 3);
    for (int i = 0; i < syllables; ++i) {
        word += kSyllables[rng.below(kSyllables.size())];
    }
    return capitalised(word);
}

std::string toLatin1(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            const auto c2 = static_cast<unsigned char>(utf8[i + 1]);
            const unsigned cp = ((c & 0x1Fu) << 6) | (c2 & 0x3Fu);
            out += cp < 0x100 ? static_cast<char>(cp) : '?';
            ++i;
        } else {
            out += '?';
        }
    }
    return out;
}

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string upperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::vector<std::string> splitSpaces(std::string_view text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = text.find(' ', start);
        words.emplace_back(text.substr(start, space - start));
        if (space == std::string_view::npos) {
            break;
        }
        start = space + 1;
    }
    return words;
}

std::string joinSpaces(const std::vector<std::string>& words)
{
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += words[i];
    }
    return out;
}

} // namespace tunesift::corpus
