#include "randomtree.h"

#include "mp3/mp3testutil.h"
#include "search/oracle.h"

#include <set>

namespace tunesift::test {

bool chance(Random& random, double p)
{
    return std::bernoulli_distribution(p)(random);
}

std::size_t between(Random& random, std::size_t low, std::size_t high)
{
    return std::uniform_int_distribution<std::size_t>(low, high)(random);
}

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

namespace {

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
                words.push_back(std::string("w").append(std::to_string(w)));
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

} // namespace

Tree makeRandomTree(Random& random, std::size_t fileCount)
{
    return TreeMaker(random, fileCount).take();
}

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

std::string listing(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += "  " + item + "\n";
    return text;
}

} // namespace tunesift::test
