#pragma once

#include "mp3/mp3analysis.h"
#include "search/host.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift::test {

// A literal model of the find button's run, written for the tests from the description of the
// system and not from the engine: two directory listings per folder, every pair i < j tested,
// the membership test over the rows of the current criterion, the stop flag read before each
// folder, after the scans, as each criterion begins and ends and on every passing pair. It is
// slow on purpose; the fast engine must give exactly its rows and its host
// calls. A file is one name in one folder, the folder known by its device and inode: two entries
// of one file (its folder reached twice) are no pair, and a row stands for the file.

// Unicode simple case mapping per code point (ICU), the text otherwise unchanged.
std::string OracleLowerCase(std::string_view text);
std::string OracleUpperCase(std::string_view text);
std::vector<std::string> OracleSplitWords(std::string_view text);
double OracleWordSimilarity(const std::vector<std::string>& first,
                            const std::vector<std::string>& second);

bool IsValidUtf8(std::string_view text);

// The texts of the run's message boxes. The "Skip" message names the path with its bytes as they
// are, so a terminal shows the name the user has to rename.
std::string SkipMessage(std::string_view path);
std::string LargeCatalogueQuestion(std::size_t folderCount, std::size_t fileCount);
inline constexpr const char* kNoFoldersMessage =
    "There are no folders to find duplicates for. Please drag and drop some folders into the "
    "list above.";
inline constexpr const char* kNoCriterionMessage =
    "Please select at least one option at the upper right: Exact Filename, Exact Filesize, "
    "Similar Filename, Exact Tag, Similar Tag, Exact Audio, Similar Audio";
inline constexpr const char* kNoDupesMessage = "No duplicate MP3s found.";
std::string AnalyzingCaption(std::string_view folder);
std::string CriterionCaption(Criterion criterion);

// The expected name of a criterion's colour family and its match type word.
std::string ExpectedColourName(Criterion criterion, bool dark);
std::string ExpectedTypeWord(Criterion criterion);

// The bytes of a file's audio: from the first frame header the analysis finds to the end less
// the trailing tags, peeled one by one; nothing when the file has no frame or no bytes are left.
std::optional<std::string> OracleAudioBytes(const std::string& path);
// The file's acoustic print, empty when it holds too little sound (or cannot be read).
std::vector<std::uint32_t> OraclePrint(const std::string& path);
// Whether two prints pass as one recording at any offset at all.
bool OracleSameRecording(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b);

struct ExpectedRow
{
    std::string path;
    std::int64_t size = 0;
    std::int64_t songLength = 0;
    std::int32_t bitRate = 0;
    Criterion criterion = Criterion::ExactFilename;
    std::string colour;
    // Counted from 0 over the run: each file a pair first lists as its outer file opens a group;
    // its partners join the group of the outer file's row in that criterion.
    std::uint32_t group = 0;
};

struct OracleEntry
{
    enum class Size
    {
        NotRead,
        Unreadable,
        Known
    };

    std::string folder; // ends in the separator
    std::string name;
    std::uint64_t folderDevice = 0;
    std::uint64_t folderInode = 0;
    Size sizeState = Size::NotRead;
    std::int64_t size = 0;
};

class Oracle
{
public:
    // Like the engine's session, the model keeps the last run's catalogue, titles and rows
    // until the next run resets them.
    void run(const std::vector<std::string>& folders, SearchHost& host);

    const std::vector<ExpectedRow>& rows() const { return m_rows; }
    const std::vector<OracleEntry>& catalogue() const { return m_catalogue; }
    // The titles of the last tag criterion, one per entry of that run.
    const std::vector<std::string>& titles() const { return m_titles; }
    std::string path(std::size_t entry) const;

private:
    void closingSteps();
    void scanFolder(const std::string& folder);
    void listSubfolders(const std::string& folder);
    std::vector<std::string> listFiles(const std::string& folder) const;
    bool runCriterion(Criterion criterion);
    bool pairPasses(Criterion criterion, std::size_t i, std::size_t j) const;
    bool sameFile(std::size_t a, std::size_t b) const;
    bool isFileListed(std::size_t entry, std::size_t firstRow) const;
    // The row (counted from 0) of the file at firstRow or later.
    std::optional<std::size_t> rowOfFile(std::size_t entry, std::size_t firstRow) const;
    void addResultRow(std::size_t entry, Criterion criterion, std::uint32_t group);

    SearchHost* m_host = nullptr;
    std::optional<Mp3Analysis> m_rowMp3Info;
    std::vector<OracleEntry> m_catalogue;
    std::vector<std::string> m_titles;
    std::vector<std::optional<std::string>> m_audio;
    std::vector<std::vector<std::uint32_t>> m_prints; // empty: too little sound

    std::deque<std::string> m_queue;
    std::vector<ExpectedRow> m_rows;
    std::vector<std::size_t> m_rowEntries; // beside m_rows: the entry each row was written for
    std::size_t m_criterionFirstRow = 0;
    bool m_darkShade = false;
    bool m_groupHeadAdded = false;
    std::uint32_t m_groupCount = 0;
};

} // namespace tunesift::test
