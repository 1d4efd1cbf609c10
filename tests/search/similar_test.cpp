#include "search/oracle.h"
#include "search/similar.h"
#include "text/textcase.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <random>

namespace tunesift {
namespace {

using ::testing::ElementsAre;
using Words = std::vector<std::string>;

double similarity(std::string_view first, std::string_view second)
{
    return WordSimilarity(SplitWords(first), SplitWords(second));
}

TEST(SplitWords, CutsAtSpacesOnlyAndKeepsTheLastWordAsItIs)
{
    EXPECT_THAT(SplitWords("Hey Jude.mp3"), ElementsAre("hey", "Jude.mp3"));
    EXPECT_THAT(SplitWords("The Long and Winding Road.mp3"),
                ElementsAre("long", "winding", "Road.mp3"));
    EXPECT_THAT(SplitWords("a\tb-c_d.e(f)[g] H"), ElementsAre("a\tb-c_d.e(f)[g]", "H"));
    EXPECT_THAT(SplitWords("ONE"), ElementsAre("ONE"));
}

TEST(SplitWords, EmptyWordsStandBetweenAndAfterSpaces)
{
    EXPECT_THAT(SplitWords(""), ElementsAre(""));
    EXPECT_THAT(SplitWords(" "), ElementsAre("", ""));
    EXPECT_THAT(SplitWords("a  b"), ElementsAre("a", "", "b"));
    EXPECT_THAT(SplitWords(" a "), ElementsAre("", "a", ""));
}

TEST(SplitWords, DropsStopWordsInAnyCaseExceptAsTheLastWord)
{
    EXPECT_THAT(SplitWords("of the and"), ElementsAre("and"));
    EXPECT_THAT(SplitWords("THE And oF x"), ElementsAre("x"));
    EXPECT_THAT(SplitWords("Land of The"), ElementsAre("land", "The"));
    EXPECT_THAT(SplitWords("andy ofa theme the"), ElementsAre("andy", "ofa", "theme", "the"));
    EXPECT_THAT(SplitWords("the\tand x"), ElementsAre("the\tand", "x"));
}

TEST(SplitWords, LowerCasesEveryCodePointOfTheEarlierWords)
{
    EXPECT_THAT(SplitWords("\xC3\x84RGER \xC3\x84RGER"),
                ElementsAre("\xC3\xA4rger", "\xC3\x84RGER")); // ÄRGER
    EXPECT_THAT(SplitWords("\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x8A\xCE\x91 x"),
                ElementsAre("\xCF\x83\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1", "x")); // ΣΟΦΊΑ
#ifndef _WIN32 // ICU's special cases; the Windows system mapping leaves these letters alone
    // Capital I with dot above maps to a plain i; Kelvin sign to k.
    EXPECT_THAT(SplitWords("\xC4\xB0x \xE2\x84\xAA x"), ElementsAre("ix", "k", "x"));
#endif
}

// The index's fast folding must give exactly the words the comparison folds.
TEST(SplitWords, ComparedWordsAreTheUpperCasedWords)
{
    for (const std::string_view text :
         {"Hey Jude.mp3", "The Long and Winding Road.mp3", "a\tb-c_d.e(f)[g] H", "", " ", "a  b",
          " a ", "of the and", "THE And oF x", "Land of The", "andy ofa theme the",
          "\xC3\x84RGER \xC3\x84RGER", "\xC4\xB0x \xE2\x84\xAA x", "\xE2\x84\xAA \xE2\x84\xAA",
          "ma\xC3\x9F\xFF ok \xC3 the", "st\xEF\xAC\x86 Hey\0Jude"}) {
        std::vector<std::string> compared;
        ForEachComparedWord(text, [&](std::string_view w) { compared.emplace_back(w); });
        std::vector<std::string> expected;
        for (const std::string& word : SplitWords(text))
            expected.push_back(UpperCase(word));
        EXPECT_EQ(compared, expected) << text;
    }
}

TEST(WordSimilarity, CountsWordsOfTheFirstListFoundInTheSecondAgainstTheLongerList)
{
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"x", "x"}, Words{"x", "y"}), 1.0);
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"x", "y"}, Words{"x", "x"}), 0.5);
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"a"}, Words{"a", "b", "c", "d"}), 0.25);
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"a", "b", "c", "d"}, Words{"a"}), 0.25);
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{""}, Words{""}), 1.0);
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{""}, Words{"x"}), 0.0);
}

TEST(WordSimilarity, NamesFromTheEdgeCases)
{
    EXPECT_DOUBLE_EQ(similarity("Hey Jude.mp3", "hey jude.mp3"), 1.0);
    EXPECT_DOUBLE_EQ(similarity("The Long and Winding Road.mp3", "Long Winding Road.mp3"), 1.0);
    EXPECT_DOUBLE_EQ(similarity("Red Blue Gold.mp3", "Blue Red Gold.mp3"), 1.0);
    EXPECT_DOUBLE_EQ(similarity("Jude Hey.mp3", "Hey Jude.mp3"), 0.0);
    EXPECT_DOUBLE_EQ(similarity("a  b", "a  b"), 1.0);
    EXPECT_DOUBLE_EQ(similarity("a  b", "a b"), 2.0 / 3.0);
    EXPECT_DOUBLE_EQ(similarity("of the and", "AND"), 1.0);
    // NUL padding stays on the last word of a title.
    const std::string nulPadded = std::string("Hey Jude") + std::string(22, '\0');
    EXPECT_DOUBLE_EQ(similarity(nulPadded, "Hey Jude"), 0.5);
    EXPECT_DOUBLE_EQ(similarity("", "x"), 0.0);
}

TEST(WordSimilarity, TheThresholdIsStrict)
{
    const std::string ten = "w1 w2 w3 w4 w5 w6 w7 w8 w9 w10";
    const std::string tenOneDiffers = "w1 w2 w3 w4 w5 w6 w7 w8 w9 zz";
    const std::string eleven = "w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 w11";
    const std::string elevenOneDiffers = "w1 w2 w3 w4 w5 w6 w7 w8 w9 w10 zz";

    EXPECT_DOUBLE_EQ(similarity(ten, tenOneDiffers), 0.9);
    EXPECT_FALSE(IsSimilar(similarity(ten, tenOneDiffers)));
    EXPECT_FALSE(similarity(ten, tenOneDiffers) > SimilarityThreshold);
    EXPECT_TRUE(IsSimilar(similarity(eleven, elevenOneDiffers)));
    EXPECT_TRUE(IsSimilar(similarity(ten, ten)));
    EXPECT_FALSE(IsSimilar(similarity("a b c", "a b d")));
    EXPECT_DOUBLE_EQ(SimilarityThreshold, 0.9);
}

TEST(WordSimilarity, IgnoresLetterCaseByUpperCasingEachCodePoint)
{
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"\xC3\xBF"}, Words{"\xC5\xB8"}), 1.0); // ÿ and Ÿ
    // σοφία and ΣΟΦΊΑ; the final sigma upper-cases to Σ as well.
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"\xCF\x83\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1"},
                                    Words{"\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x8A\xCE\x91"}),
                     1.0);
#ifndef _WIN32 // ICU's special cases; the Windows system mapping leaves these letters alone
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"\xCF\x82"}, Words{"\xCF\x83"}), 1.0);
#endif
    // Simple mapping: ß has no single-letter capital, so it does not meet SS.
    EXPECT_DOUBLE_EQ(WordSimilarity(Words{"stra\xC3\x9F"
                                          "e"},
                                    Words{"STRASSE"}),
                     0.0);
#ifndef _WIN32 // ICU's special cases; the Windows system mapping leaves these letters alone
    // The dotted capital I is lower-cased to i as an earlier word, but kept as the last word,
    // where it upper-cases to itself and so no longer meets I.
    EXPECT_DOUBLE_EQ(similarity("\xC4\xB0x y", "IX y"), 1.0);
#endif
    EXPECT_DOUBLE_EQ(similarity("y \xC4\xB0x", "y IX"), 0.5);
}

TEST(TextCase, MapsCodePointsOneByOne)
{
    EXPECT_EQ(LowerCase("Hey JUDE"), "hey jude");
    EXPECT_EQ(UpperCase("Hey jude"), "HEY JUDE");
    EXPECT_EQ(LowerCase("\xC3\x84"
                        "RGER"),
              "\xC3\xA4"
              "rger");
    EXPECT_EQ(UpperCase("\xC3\xBF"), "\xC5\xB8"); // ÿ → Ÿ: one byte more
    EXPECT_EQ(UpperCase("\xC3\x9F"), "\xC3\x9F"); // ß stays
#ifndef _WIN32 // ICU's special cases; the Windows system mapping leaves these letters alone
    EXPECT_EQ(LowerCase("\xC4\xB0"), "i");     // İ → i: one byte less
    EXPECT_EQ(LowerCase("\xE2\x84\xAA"), "k"); // Kelvin sign
    EXPECT_EQ(UpperCase("\xC5\xBF"), "S");     // long s
#endif
    EXPECT_EQ(LowerCase("\xCE\xA3\xCE\x91\xCE\xA3"), "\xCF\x83\xCE\xB1\xCF\x83"); // ΣΑΣ → σασ
    EXPECT_EQ(UpperCase(std::string("a\0b", 3)), std::string("A\0B", 3));
    EXPECT_EQ(UpperCase("\xF0\x9D\x90\x80z"), "\xF0\x9D\x90\x80Z"); // outside the BMP
    EXPECT_EQ(LowerCase("\xFF"
                        "A\xC3"),
              "\xFF"
              "a\xC3"); // bytes that are not UTF-8 pass through
}

// The engine's measure against the model's on texts from a vocabulary that collides often.
TEST(WordSimilarity, AgreesWithTheModelOnRandomTexts)
{
    const std::vector<std::string> vocabulary = {"hey",
                                                 "Hey",
                                                 "HEY",
                                                 "jude",
                                                 "Jude.mp3",
                                                 "and",
                                                 "And",
                                                 "of",
                                                 "THE",
                                                 "the",
                                                 "",
                                                 "x",
                                                 "X",
                                                 "\xC3\xA4rger",
                                                 "\xC3\x84RGER",
                                                 "\xC4\xB0x",
                                                 "ix",
                                                 "IX",
                                                 "\xCF\x82",
                                                 "\xCE\xA3",
                                                 "stra\xC3\x9F"
                                                 "e",
                                                 "STRASSE",
                                                 std::string("a\0", 2),
                                                 "a",
                                                 "A",
                                                 "\xC3\xBF",
                                                 "\xC5\xB8"};
    std::mt19937 random(20261207);
    auto text = [&] {
        std::uniform_int_distribution<std::size_t> length(1, 12);
        std::uniform_int_distribution<std::size_t> pick(0, vocabulary.size() - 1);
        std::string result;
        const std::size_t n = length(random);
        for (std::size_t k = 0; k < n; ++k)
            result += (k ? " " : "") + vocabulary[pick(random)];
        return result;
    };
    for (int round = 0; round < 3000; ++round) {
        const std::string a = text();
        const std::string b = round % 3 == 0 ? a + " x" : text();
        ASSERT_EQ(SplitWords(a), test::OracleSplitWords(a)) << a;
        ASSERT_EQ(WordSimilarity(SplitWords(a), SplitWords(b)),
                  test::OracleWordSimilarity(test::OracleSplitWords(a), test::OracleSplitWords(b)))
            << '"' << a << "\" / \"" << b << '"';
    }
}

} // namespace
} // namespace tunesift
