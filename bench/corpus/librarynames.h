#pragma once

// The words of the synthetic library: made-up words from syllables, the genres, and the few text
// operations its variants need (Latin-1 for the ID3v1 tag, ASCII case, words split at spaces).

#include "splitmix.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift::corpus {

inline constexpr std::array kSyllables = {
    "ka", "lo",  "mi", "ren", "tor", "va",  "shi", "den", "mar", "el",  "qui", "zo",
    "ba", "rin", "to", "sa",  "ne",  "gor", "fa",  "lu",  "pe",  "dra", "ki",  "mo",
    "ta", "ver", "ni", "sol", "ra",  "bel", "cor", "in",  "ya",  "gal", "ho",  "wen",
};

inline constexpr std::array kGenres = {
    "Rock", "Pop",   "Jazz",  "Classical", "Electronic", "Hip-Hop",
    "Folk", "Metal", "Blues", "Soul",      "Reggae",     "Country",
};

inline constexpr std::array kAccented = {"é", "ü", "ø", "ñ", "å", "ç"};
inline constexpr std::array kExtraWords = {"(Live)", "Remastered", "(Demo)",
                                           "Remix",  "(Edit)",     "Acoustic"};

// A word of one to three syllables, capitalised.
std::string makeWord(bench::Rng& rng);
// UTF-8 to Latin-1 for the few non-ASCII letters the names use; anything else becomes "?".
std::string toLatin1(std::string_view utf8);
std::string lowerAscii(std::string text);
std::string upperAscii(std::string text);
std::vector<std::string> splitSpaces(std::string_view text);
std::string joinSpaces(const std::vector<std::string>& words);

} // namespace tunesift::corpus
