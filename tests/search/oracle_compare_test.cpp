// The fast engine against the literal model on many random folder trees: same rows in the same
// order with the same shades, and the same captions, progress values and messages.

#include "cache/sqlitecache.h"
#include "mp3/mp3testutil.h"
#include "search/engineview.h"
#include "search/oracle.h"
#include "search/recordinghost.h"
#include "search/scan.h"
#include "search/searchrun.h"
#include "search/testtree.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <thread>

namespace tunesift::test {
namespace {

using Random = std::mt19937;

template <typename T>
const T& pick(Random& random, const std::vector<T>& items)
{
    return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(random)];
}

bool chance(Random& random, double p)
{
    return std::bernoulli_distribution(p)(random);
}

std::size_t between(Random& random, std::size_t low, std::size_t high)
{
    return std::uniform_int_distribution<std::size_t>(low, high)(random);
}

// One step of building a tree; a tree is rebuilt from its steps before every run so that each
// run sees the same files in the same listing order.
struct Step
{
    enum class Kind
    {
        Folder,
        Mp3,
        Bytes,
        Link
    };
    Kind kind = Kind::Folder;
    std::string path; // relative to the tree's root
    Mp3Content content;
    std::string target; // of a link, as written into it
};

struct Tree
{
    std::vector<Step> steps;
    std::vector<std::string> walkableFolders; // relative, "" for the root
    std::vector<std::string> hiddenFolders;
    std::vector<std::string> mp3Files;    // relative paths of the regular .mp3 files
    std::vector<std::string> folderLinks; // relative paths of links to walkable folders
};

const std::vector<std::string> kNameWords = {"Hey",
                                             "hey",
                                             "HEY",
                                             "Jude",
                                             "jude",
                                             "Road",
                                             "road",
                                             "Long",
                                             "Winding",
                                             "Red",
                                             "Blue",
                                             "Gold",
                                             "x",
                                             "Song",
                                             "song",
                                             "a?b",
                                             "Let",
                                             "It",
                                             "Be",
                                             "be",
                                             "Ix",
                                             "ix",
                                             "\xC4\xB0x",                                // İx
                                             "\xC3\x84rger",                             // Ärger
                                             "\xC3\xA4rger",                             // ärger
                                             "\xCF\x83\xCE\xBF\xCF\x86\xCE\xAF\xCE\xB1", // σοφία
                                             "\xCE\xA3\xCE\x9F\xCE\xA6\xCE\x8A\xCE\x91", // ΣΟΦΊΑ
                                             "Stra\xC3\x9F"
                                             "e",
                                             "STRASSE",
                                             "tab\tword",
                                             "1-2",
                                             "(live)"};
const std::vector<std::string> kStopWords = {"and", "And", "of", "OF", "the", "The", "tHe"};
const std::vector<std::string> kMp3Extensions = {".mp3", ".mp3", ".mp3", ".mp3", ".MP3", ".Mp3"};
const std::vector<std::string> kFolderNames = {
    "A", "B", "disc 1", "Disc 1", "what?", "x y", "\xC3\x84rger", "A B", "z"};

// Latin-1 title texts (one byte one character).
const std::vector<std::string> kTitles = {"Hey Jude",
                                          "hey jude",
                                          "HEY JUDE",
                                          "Let It Be",
                                          "let it be",
                                          "\xDC"
                                          "ber Alles",
                                          "\xFC"
                                          "ber alles",
                                          "\xFF"
                                          "es",
                                          "\xFF"
                                          "ES",
                                          "Yesterday",
                                          "The Long and Winding Road",
                                          "Long Winding Road",
                                          "Road Long Winding",
                                          "",
                                          "a  b",
                                          "Jude Hey",
                                          "Be It Let"};

std::string text(const Bytes& bytes)
{
    return {bytes.begin(), bytes.end()};
}

// Before the frame: nothing, or a leading ID3v2 tag. After it: the tags that may trail the audio
// (alone and stacked), and look-alikes that are not peeled: a footer counting more bytes than the
// file has, a Lyrics3v2 size that is not digits, an Enhanced TAG without the ID3v1 tag after it.
const std::vector<std::string> kPrefixes = {
    "", "", "", text(concat({id3v2Header(20), Bytes(20, 0)})), text(id3v2Header(0))};
const std::vector<std::string> kTrailers = {
    "",
    "",
    "",
    text(apeTag(40, true)),
    text(apeTag(0, false)),
    text(lyrics3v2Tag("IND0000210")),
    text(appendedId3v2Tag(30)),
    text(enhancedTag("Hey Jude")),
    text(concat({lyrics3v2Tag("EAL00004Gold"), apeTag(10, true)})),
    text(concat({appendedId3v2Tag(0), apeTag(3, false)})),
    text(apeTag(5000, false)).substr(5000),
    "LYRICSBEGINab00001xLYRICS200"};

const std::vector<std::uint32_t> kFrameTails = {0xFB9000, 0xFB5000, 0xFBB000, 0xFBE400};
const std::vector<std::size_t> kBodySizes = {4, 200, 300, 300, 417, 1024, 1024};

std::string joinWords(Random& random, std::vector<std::string> words)
{
    if (chance(random, 0.15)) // a word standing twice
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(between(random, 0, words.size())),
                     pick(random, words));
    if (chance(random, 0.3))
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(between(random, 0, words.size())),
                     pick(random, kStopWords));
    if (chance(random, 0.2))
        std::shuffle(words.begin(), words.end(), random);
    const std::size_t doubleGap = chance(random, 0.15) ? between(random, 1, words.size()) : 0;
    std::string text;
    for (std::size_t k = 0; k < words.size(); ++k) {
        if (k > 0)
            text += k == doubleGap ? "  " : " ";
        text += words[k];
    }
    return text;
}

std::vector<std::string> mutateCase(Random& random, std::vector<std::string> words)
{
    for (std::string& word : words) {
        if (chance(random, 0.15))
            word = OracleUpperCase(word);
        else if (chance(random, 0.15))
            word = OracleLowerCase(word);
    }
    return words;
}

class TreeMaker
{
public:
    explicit TreeMaker(Random& random, std::size_t fileCount) : m_random(random)
    {
        for (int k = 0; k < 3; ++k) {
            std::vector<std::string> words;
            const std::size_t n = between(m_random, 1, 4);
            for (std::size_t w = 0; w < n; ++w)
                words.push_back(pick(m_random, kNameWords));
            m_bases.push_back(words);
        }
        makeFolders();
        for (std::size_t k = 0; k < fileCount; ++k)
            makeFile();
        makeOddEntries();
    }

    Tree take() { return std::move(m_tree); }

private:
    bool add(Step step)
    {
        if (!m_used.insert(step.path).second)
            return false;
        m_tree.steps.push_back(std::move(step));
        return true;
    }

    static std::string join(const std::string& folder, const std::string& name)
    {
        return folder.empty() ? name : folder + "/" + name;
    }

    void makeFolders()
    {
        m_tree.walkableFolders.push_back("");
        const std::size_t count = between(m_random, 0, 6);
        for (std::size_t k = 0; k < count; ++k) {
            const std::string parent = pick(m_random, m_tree.walkableFolders);
            const std::string path = join(parent, pick(m_random, kFolderNames));
            if (add({Step::Kind::Folder, path, {}, {}}))
                m_tree.walkableFolders.push_back(path);
        }
        if (chance(m_random, 0.25)) {
            const std::string path = join(pick(m_random, m_tree.walkableFolders), ".hidden");
            if (add({Step::Kind::Folder, path, {}, {}}))
                m_tree.hiddenFolders.push_back(path);
        }
        if (chance(m_random, 0.15)) {
            const std::string path = join(pick(m_random, m_tree.walkableFolders), "bad\xFF"
                                                                                  "dir");
            if (add({Step::Kind::Folder, path, {}, {}}))
                m_tree.hiddenFolders.push_back(path); // never walked either
        }
    }

    std::string makeName()
    {
        const double r = std::uniform_real_distribution<double>(0, 1)(m_random);
        std::string stem;
        if (r < 0.12 && !m_names.empty())
            return pick(m_random, m_names);
        if (r < 0.65) {
            stem = joinWords(m_random, mutateCase(m_random, pick(m_random, m_bases)));
        } else if (r < 0.8) {
            // Nine to twenty-two words of which one may differ, be missing or stand twice, with
            // up to three extra words, in any letter case: the edge of the threshold and of the
            // partner search's keys.
            std::vector<std::string> words;
            const std::size_t n = between(m_random, 9, chance(m_random, 0.5) ? 12 : 22);
            for (std::size_t w = 0; w < n; ++w)
                words.push_back("w" + std::to_string(w));
            if (chance(m_random, 0.6))
                words[between(m_random, 0, n - 1)] = "other";
            if (chance(m_random, 0.2))
                words.erase(words.begin() +
                            static_cast<std::ptrdiff_t>(between(m_random, 0, n - 1)));
            if (chance(m_random, 0.3))
                for (std::size_t x = between(m_random, 1, 3); x > 0; --x)
                    words.push_back("x" + std::to_string(x));
            for (std::size_t twice = chance(m_random, 0.3) ? between(m_random, 1, 2) : 0; twice > 0;
                 --twice)
                words[between(m_random, 0, words.size() - 1)] =
                    words[between(m_random, 0, words.size() - 1)];
            stem = joinWords(m_random, mutateCase(m_random, words));
        } else {
            std::vector<std::string> words;
            const std::size_t n = between(m_random, 1, 3);
            for (std::size_t w = 0; w < n; ++w)
                words.push_back(pick(m_random, kNameWords));
            stem = joinWords(m_random, words);
        }
        if (chance(m_random, 0.05))
            stem = " " + stem;
        return stem + pick(m_random, kMp3Extensions);
    }

    Mp3Content makeContent()
    {
        Mp3Content content;
        if (chance(m_random, 0.08)) {
            content.bodyBytes = 0;
            content.frameHeaderTail.reset();
            return content;
        }
        content.bodyBytes = pick(m_random, kBodySizes);
        if (chance(m_random, 0.15))
            content.frameHeaderTail.reset();
        else
            content.frameHeaderTail = pick(m_random, kFrameTails);
        if (chance(m_random, 0.55)) {
            std::string title = pick(m_random, kTitles);
            if (chance(m_random, 0.15))
                title = "The " + title;
            if (chance(m_random, 0.08))
                title = std::string(1, '\0') + title;
            content.rawTitle = TitleField(title, chance(m_random, 0.5) ? ' ' : '\0');
        }
        content.prefix = pick(m_random, kPrefixes);
        content.trailer = pick(m_random, kTrailers);
        return content;
    }

    void makeFile()
    {
        std::vector<std::string> folders = m_tree.walkableFolders;
        if (!m_tree.hiddenFolders.empty() && chance(m_random, 0.1))
            folders = m_tree.hiddenFolders;
        const std::string name = makeName();
        const std::string path = join(pick(m_random, folders), name);
        Mp3Content content = makeContent();
        if (!m_contents.empty() && chance(m_random, 0.25)) {
            // A copy, or the same audio under other tags.
            const Mp3Content other = content;
            content = pick(m_random, m_contents);
            if (chance(m_random, 0.5)) {
                content.rawTitle = other.rawTitle;
                content.prefix = other.prefix;
                content.trailer = other.trailer;
            }
        }
        if (add({Step::Kind::Mp3, path, content, {}})) {
            m_names.push_back(name);
            m_contents.push_back(content);
            m_tree.mp3Files.push_back(path);
        }
    }

    void makeOddEntries()
    {
        const auto folder = [&] { return pick(m_random, m_tree.walkableFolders); };
        if (chance(m_random, 0.2))
            add({Step::Kind::Mp3, join(folder(), ".hidden song.mp3"), makeContent(), {}});
        if (chance(m_random, 0.2))
            add({Step::Kind::Mp3, join(folder(), "bad\xFE name.mp3"), makeContent(), {}});
        if (chance(m_random, 0.1))
            add({Step::Kind::Bytes, join(folder(), "notes\xC0.txt"), {}, {}});
        if (chance(m_random, 0.2))
            add({Step::Kind::Mp3, join(folder(), "song.mp3.bak"), makeContent(), {}});
        if (chance(m_random, 0.1))
            add({Step::Kind::Folder, join(folder(), "folder.mp3"), {}, {}});
        if (chance(m_random, 0.1))
            add({Step::Kind::Bytes, join(folder(), "a.mp"), {}, {}});
        if (!m_tree.mp3Files.empty() && chance(m_random, 0.3)) {
            // A link to a file, with the name of an MP3 file.
            const std::string target = "/" + pick(m_random, m_tree.mp3Files);
            add({Step::Kind::Link, join(folder(), "alias " + makeName()), {}, target});
        }
        if (chance(m_random, 0.2))
            add({Step::Kind::Link, join(folder(), "loop"), {}, ".."});
        if (chance(m_random, 0.2)) {
            // A link to a folder, which a scenario may list beside the folder itself.
            const std::string path = join(folder(), "linked");
            if (add({Step::Kind::Link, path, {}, "/" + folder()}))
                m_tree.folderLinks.push_back(path);
        }
        if (chance(m_random, 0.15))
            add({Step::Kind::Link, join(folder(), "self"), {}, "."});
        if (chance(m_random, 0.1))
            add({Step::Kind::Link, join(folder(), "dead.mp3"), {}, "nowhere.mp3"});
    }

    Random& m_random;
    Tree m_tree;
    std::set<std::string> m_used;
    std::vector<std::vector<std::string>> m_bases;
    std::vector<std::string> m_names;
    std::vector<Mp3Content> m_contents;
};

void materialise(const TempDir& dir, const Tree& tree)
{
    dir.clear();
    for (const Step& step : tree.steps) {
        const std::string path = dir / step.path;
        switch (step.kind) {
        case Step::Kind::Folder:
            MakeFolder(path);
            break;
        case Step::Kind::Mp3:
            WriteMp3File(path, step.content);
            break;
        case Step::Kind::Bytes:
            WriteBytes(path, "data");
            break;
        case Step::Kind::Link:
            // Targets starting with "/" are relative to the root of the tree.
            MakeSymlink(step.target.front() == '/' ? dir.path() + step.target : step.target, path);
            break;
        }
    }
}

struct Flip
{
    std::string caption;
    Criterion criterion = Criterion::ExactFilename;
    bool ticked = false;
};

struct Scenario
{
    std::vector<std::string> folders;
    std::array<bool, kCriterionCount> ticked{};
    std::vector<Flip> flips;
    std::vector<std::string> deleteAtFirstCriterion; // relative paths
    std::optional<std::size_t> stopAfterCall;

    void apply(RecordingHost& host, const TempDir& dir) const
    {
        for (int c = 0; c < kCriterionCount; ++c)
            host.setTicked(static_cast<Criterion>(c), ticked[static_cast<std::size_t>(c)]);
        for (const Flip& flip : flips)
            host.tickAfterCaption(flip.caption, flip.criterion, flip.ticked);
        if (!deleteAtFirstCriterion.empty()) {
            host.after(
                [](const HostCall& call, std::size_t) {
                    return call.kind == HostCall::Kind::Caption &&
                           call.text.starts_with("Tunesift [Finding duplicates");
                },
                [this, &dir](RecordingHost&) {
                    for (const std::string& path : deleteAtFirstCriterion)
                        RemovePath(dir / path);
                });
        }
        if (stopAfterCall)
            host.stopAfterCall(*stopAfterCall);
    }

    std::string describe() const
    {
        std::ostringstream out;
        out << "folders:";
        for (const std::string& folder : folders)
            out << " \"" << folder << '"';
        out << "\nticked:";
        for (int c = 0; c < kCriterionCount; ++c)
            if (ticked[static_cast<std::size_t>(c)])
                out << ' ' << static_cast<Criterion>(c);
        for (const Flip& flip : flips)
            out << "\nafter \"" << flip.caption << "\" set " << flip.criterion << " to "
                << flip.ticked;
        for (const std::string& path : deleteAtFirstCriterion)
            out << "\ndelete " << path << " at the first criterion";
        if (stopAfterCall)
            out << "\nstop after call " << *stopAfterCall;
        return out.str();
    }
};

Scenario makeScenario(Random& random, const TempDir& dir, const Tree& tree)
{
    Scenario scenario;
    if (!chance(random, 0.04)) {
        const std::size_t count = between(random, 1, 4);
        for (std::size_t k = 0; k < count; ++k) {
            const double r = std::uniform_real_distribution<double>(0, 1)(random);
            std::string folder;
            if (r < 0.35)
                folder = dir.path();
            else if (r < 0.7)
                folder = dir / pick(random, tree.walkableFolders);
            else if (r < 0.8 && !scenario.folders.empty())
                folder = scenario.folders.back();
            else if (r < 0.85)
                folder = tree.folderLinks.empty() || chance(random, 0.5)
                             ? dir / "missing"
                             : dir / tree.folderLinks.front();
            else if (r < 0.88 && !tree.mp3Files.empty())
                folder = dir / pick(random, tree.mp3Files);
            else if (r < 0.92 && !tree.hiddenFolders.empty() &&
                     tree.hiddenFolders.front().ends_with(".hidden"))
                folder = dir / tree.hiddenFolders.front();
            else if (r < 0.95)
                folder = "";
            else
                folder = dir.path();
            // Sometimes a second separator: "dir//" names the folder "dir/" does.
            if (!folder.empty() && chance(random, 0.3))
                folder += '/';
            scenario.folders.push_back(folder);
        }
    }
    if (!chance(random, 0.05)) {
        for (bool& ticked : scenario.ticked)
            ticked = chance(random, 0.45);
    }
    if (chance(random, 0.25)) {
        Flip flip;
        flip.caption =
            chance(random, 0.2)
                ? std::string("Tunesift")
                : CriterionCaption(static_cast<Criterion>(between(random, 0, kCriterionCount - 1)));
        flip.criterion = static_cast<Criterion>(between(random, 0, kCriterionCount - 1));
        flip.ticked = chance(random, 0.6);
        scenario.flips.push_back(flip);
    }
    if (!tree.mp3Files.empty() && chance(random, 0.12)) {
        scenario.deleteAtFirstCriterion.push_back(pick(random, tree.mp3Files));
        if (chance(random, 0.5))
            scenario.deleteAtFirstCriterion.push_back(pick(random, tree.mp3Files));
    }
    return scenario;
}

template <typename T>
std::string firstDifference(const std::vector<T>& actual, const std::vector<T>& expected)
{
    std::ostringstream out;
    const std::size_t common = std::min(actual.size(), expected.size());
    std::size_t k = 0;
    while (k < common && actual[k] == expected[k])
        ++k;
    out << "engine has " << actual.size() << ", model " << expected.size()
        << "; first difference at " << k << '\n';
    for (std::size_t i = k >= 3 ? k - 3 : 0; i < std::min(common, k + 4); ++i)
        out << "  [" << i << "] engine " << actual[i] << " | model " << expected[i] << '\n';
    for (std::size_t i = common; i < std::min(actual.size(), common + 4); ++i)
        out << "  [" << i << "] engine " << actual[i] << '\n';
    for (std::size_t i = common; i < std::min(expected.size(), common + 4); ++i)
        out << "  [" << i << "] model " << expected[i] << '\n';
    return out.str();
}

std::string listing(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += "  " + item + "\n";
    return text;
}

struct RandomRuns
{
    std::uint32_t seedBase = 0;
    int cases = 0;
    std::size_t minFiles = 0;
    std::size_t maxFiles = 0;
    bool withStops = false; // the stop flag set after a random host call of the run
    // The files taken to lie on a distant share: what the run read of a file once stands for the
    // run, so no file changes while it runs.
    bool distantFiles = false;
};

void compareOnRandomTrees(const RandomRuns& runs)
{
    TempDir dir(TempDir::Storage::Memory);
    // One session and one model for all cases: every run must start from a clean slate, and a
    // run with an empty folder list must leave the previous results alone.
    SearchSession session;
    Oracle model;
    for (int c = 0; c < runs.cases; ++c) {
        const std::uint32_t seed = runs.seedBase + static_cast<std::uint32_t>(c);
        Random random(seed);
        const Tree tree = TreeMaker(random, between(random, runs.minFiles, runs.maxFiles)).take();
        Scenario scenario = makeScenario(random, dir, tree);
        if (runs.distantFiles)
            scenario.deleteAtFirstCriterion.clear();

        if (runs.withStops) {
            materialise(dir, tree);
            RecordingHost dry;
            scenario.apply(dry, dir);
            Oracle probe;
            probe.run(scenario.folders, dry);
            scenario.stopAfterCall = between(random, 0, dry.calls().size() - 1);
        }

        materialise(dir, tree);
        RecordingHost engineHost;
        scenario.apply(engineHost, dir);
        SetDistantFilesForTesting(runs.distantFiles);
        RunSearch(session, scenario.folders, engineHost);
        SetDistantFilesForTesting(false);

        materialise(dir, tree);
        RecordingHost modelHost;
        scenario.apply(modelHost, dir);
        model.run(scenario.folders, modelHost);

        SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + scenario.describe() +
                     "\nmodel catalogue:\n" + listing(CataloguePaths(model)));
        if (!scenario.stopAfterCall && !scenario.folders.empty()) {
            ASSERT_EQ(CataloguePaths(session), CataloguePaths(model))
                << firstDifference(CataloguePaths(session), CataloguePaths(model));
        }
        // A stopped run shows no rows, and reads nothing more for the columns of those it wrote.
        const bool stopped =
            scenario.stopAfterCall && modelHost.count(HostCall::Kind::ShowResults) == 0;
        const auto compared = [&](std::vector<ExpectedRow> rows) {
            if (stopped)
                for (ExpectedRow& row : rows)
                    row.size = row.songLength = row.bitRate = 0;
            return rows;
        };
        ASSERT_EQ(compared(RowsOf(session)), compared(model.rows()))
            << firstDifference(compared(RowsOf(session)), compared(model.rows()));
        ASSERT_EQ(engineHost.calls(), modelHost.calls())
            << firstDifference(engineHost.calls(), modelHost.calls());
        if (!stopped) {
            ASSERT_EQ(RowTextMismatch(session), "");
        }

        const auto captions = modelHost.captions();
        const bool tagRan = std::find(captions.begin(), captions.end(),
                                      CriterionCaption(Criterion::ExactTag)) != captions.end() ||
                            std::find(captions.begin(), captions.end(),
                                      CriterionCaption(Criterion::SimilarTag)) != captions.end();
        if (tagRan && !scenario.stopAfterCall) {
            ASSERT_GE(session.titles().size(), model.titles().size());
            const std::vector<std::string> titles(
                session.titles().begin(),
                session.titles().begin() + static_cast<std::ptrdiff_t>(model.titles().size()));
            ASSERT_EQ(titles, model.titles());
        }
    }
}

TEST(EngineAgainstModel, SmallRandomTrees)
{
    compareOnRandomTrees({.seedBase = 1000, .cases = 500, .minFiles = 2, .maxFiles = 24});
}

TEST(EngineAgainstModel, LargerRandomTrees)
{
    compareOnRandomTrees({.seedBase = 50000, .cases = 25, .minFiles = 60, .maxFiles = 160});
}

TEST(EngineAgainstModel, RandomTreesWithAStopAnywhere)
{
    compareOnRandomTrees(
        {.seedBase = 90000, .cases = 300, .minFiles = 2, .maxFiles = 24, .withStops = true});
}

TEST(EngineAgainstModel, RandomTreesOnADistantShare)
{
    compareOnRandomTrees(
        {.seedBase = 120000, .cases = 200, .minFiles = 2, .maxFiles = 60, .distantFiles = true});
    compareOnRandomTrees({.seedBase = 130000,
                          .cases = 150,
                          .minFiles = 2,
                          .maxFiles = 24,
                          .withStops = true,
                          .distantFiles = true});
}

// The cache never changes a result: on a random library, after one random change between runs,
// runs with the cache give exactly the rows of a run that reads every file.
enum class Change
{
    NewCopy,         // a copy of a file under another name
    RetagInPlace,    // the title rewritten in place, the modification time put back
    ReplaceByRename, // a new version written beside the file and renamed over it
    Removal,
    DamagedCache,        // bytes of the cache file overwritten, or the file cut short
    ChangedWithinASecond // rewritten in place at the same length right after the run read it
};
constexpr int kChangeKinds = 6;

std::ostream& operator<<(std::ostream& out, Change change)
{
    static const char* const names[] = {"new copy", "retag in place", "replace by rename",
                                        "removal",  "damaged cache",  "changed within a second"};
    return out << names[static_cast<int>(change)];
}

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes the bytes over the file in place (the same inode) and puts its modification time back.
void rewriteInPlace(const std::string& path, const std::string& bytes)
{
    struct stat before
    {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    {
        std::ofstream out(path, std::ios::binary | std::ios::in | std::ios::trunc);
        out << bytes;
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Another title of the same length in the file's ID3v1 tag, or a tag where it had none.
std::string retagged(std::string bytes, Random& random)
{
    const std::string title = TitleField(pick(random, kTitles) + " (again)", ' ');
    if (bytes.size() >= 128 && bytes.compare(bytes.size() - 128, 3, "TAG") == 0)
        bytes.replace(bytes.size() - 125, 30, title);
    else
        bytes += ("TAG" + title + std::string(95, '\0'));
    return bytes;
}

void changeLibrary(Change change, Random& random, const TempDir& dir, const Tree& tree,
                   const std::string& cacheFile)
{
    const std::string file = dir / pick(random, tree.mp3Files);
    const std::string folder = dir / pick(random, tree.walkableFolders);
    switch (change) {
    case Change::NewCopy:
        std::filesystem::copy_file(file,
                                   folder + "/copy " + std::to_string(random() % 100) +
                                       (chance(random, 0.5) ? ".mp3" : ".MP3"),
                                   std::filesystem::copy_options::overwrite_existing);
        break;
    case Change::RetagInPlace:
        rewriteInPlace(file, retagged(readAll(file), random));
        break;
    case Change::ReplaceByRename: {
        const std::string beside = file + ".new";
        if (chance(random, 0.5))
            WriteBytes(beside, retagged(readAll(file), random));
        else
            WriteMp3File(beside, pick(random, tree.steps).content);
        std::filesystem::rename(beside, file);
        break;
    }
    case Change::Removal:
        RemovePath(file);
        break;
    case Change::DamagedCache: {
        const auto size = static_cast<std::size_t>(std::filesystem::file_size(cacheFile));
        if (chance(random, 0.3)) {
            std::filesystem::resize_file(cacheFile, between(random, 0, size));
            break;
        }
        std::fstream out(cacheFile, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(static_cast<std::streamoff>(between(random, 0, size - 1)));
        for (std::size_t k = between(random, 1, 64); k > 0; --k)
            out.put(static_cast<char>(random()));
        break;
    }
    case Change::ChangedWithinASecond: {
        std::string bytes = readAll(file);
        for (char& byte : bytes)
            byte = static_cast<char>(byte ^ 0x01);
        rewriteInPlace(file, bytes);
        break;
    }
    }
}

TEST(CacheAgainstNoCache, RandomLibrariesAndOneChangeBetweenRuns)
{
    // Files are kept once they are older than settle when the cache opens; the test waits that
    // long where it wants the files written so far kept.
    constexpr auto kSettle = std::chrono::milliseconds(30);
    const auto settle = [&] {
        std::this_thread::sleep_for(kSettle + std::chrono::milliseconds(5));
    };
    TempDir dir(TempDir::Storage::Memory);
    for (std::uint32_t seed = 7100; seed < 7100 + 60; ++seed) {
        Random random(seed);
        const Tree tree = TreeMaker(random, between(random, 2, 30)).take();
        Scenario scenario = makeScenario(random, dir, tree);
        scenario.flips.clear();
        scenario.deleteAtFirstCriterion.clear();
        if (tree.mp3Files.empty())
            continue;
        const auto change = static_cast<Change>(seed % kChangeKinds);
        const bool id3v2Titles = chance(random, 0.5);
        // A third of the libraries are taken to lie on a distant share (stamps taken while
        // listing, each file looked at once per run).
        const bool distant = seed % 3 == 0;
        TempDir cacheFolder;
        const std::string cacheFile = cacheFolder / "tunesift/files.sqlite3";
        const auto run = [&](bool cached) {
            std::optional<SqliteFileCache> cache;
            if (cached)
                cache.emplace(cacheFile, nullptr, kSettle);
            SearchSession session;
            RecordingHost host;
            scenario.apply(host, dir);
            host.id3v2Titles = id3v2Titles;
            host.cache = cached ? &*cache : nullptr;
            SetDistantFilesForTesting(distant);
            RunSearch(session, scenario.folders, host);
            SetDistantFilesForTesting(false);
            return RowsOf(session);
        };
        SCOPED_TRACE("seed " + std::to_string(seed) + "\n" + scenario.describe() +
                     "\nid3v2 titles " + std::to_string(id3v2Titles) +
                     (distant ? "\ndistant" : ""));

        materialise(dir, tree);
        settle();
        const std::vector<ExpectedRow> before = run(false);
        ASSERT_EQ(run(true), before) << "cold cache";
        ASSERT_EQ(run(true), before) << "warm cache";

        SCOPED_TRACE(::testing::Message() << "change: " << change);
        changeLibrary(change, random, dir, tree, cacheFile);
        const std::vector<ExpectedRow> after = run(false);
        if (change != Change::ChangedWithinASecond)
            settle();
        const std::vector<ExpectedRow> firstAfter = run(true);
        ASSERT_EQ(firstAfter, after) << firstDifference(firstAfter, after);
        settle();
        ASSERT_EQ(run(true), after) << "the second run after the change";
    }
}

} // namespace
} // namespace tunesift::test
