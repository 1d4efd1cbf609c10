#pragma once

#include "files/fileaccess.h"
#include "search/filecache.h"
#include "search/runstate.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// One road for a file's facts. Every stage of the run that needs to know something of a file (its
// size, its title, the columns of its rows, its audio range) asks GatherFacts, which for each file
// tries, in this order, what the scan read of it, what the cache holds of it and the file itself,
// and takes a fact from the first two only while the file is as it was when the fact was read
// (UnchangedSince). Whatever is read from the file is read in one visit and kept in the cache under
// the stamp the file had while it was open.

namespace tunesift {

// What a stage asks of files.
struct WantedFacts
{
    bool size = false;       // the length Exact Filesize compares
    bool title = false;      // the title the tag criteria compare
    bool rowColumns = false; // size, playing time and bit rate of the file's rows
    bool audio = false;      // the audio range, with the hashes of it the cache holds
    // The acoustic print (Similar Audio), into state.prints; the analysis it is made after gives
    // the row columns as well.
    bool print = false;

    bool any() const { return size || title || rowColumns || audio || print; }
};

// What one visit to a file found.
struct ReadFacts
{
    // The file while it was open; nothing where it could not be opened (or only its size was
    // asked for), and then nothing of the visit is kept.
    std::optional<FileStamp> stamp;
    std::optional<std::int64_t> size; // nothing: the file could not be opened
    FileFacts facts;                  // the groups asked for, filled
    // The print, when asked for and the file could be read to its end or two minutes in.
    std::optional<std::vector<std::uint32_t>> print;
};

// Opens the file once and reads what is wanted: the analysis for the row columns and the audio
// range, the title from the analysis's read of the file's end where it made one. Only a size
// asks for no more than the length of the open file.
ReadFacts ReadFileFacts(const FolderHandle& folder, std::string_view name, WantedFacts wanted,
                        bool id3v2Titles);

// The one rule by which a fact read earlier (by the scan, or by an earlier run for the cache) is
// still the file's: the file's stamp now is the stamp it had when the fact was read. The cache
// applies it through its key.
inline bool UnchangedSince(const FileStamp& readUnder, const std::optional<FileStamp>& now)
{
    return now && *now == readUnder;
}

// The title the tag criteria compare, when the facts hold what it is made of.
std::optional<std::string> ComparedTitleOf(const FileFacts& facts, bool id3v2Titles);

// Gathers the wanted facts of the files (path ids, each the first entry of its file, ascending)
// that the run does not hold yet, and puts them where the run keeps them: sizes in the catalogue,
// titles in the session's titles (which the caller has sized), row columns in state.rowInfo,
// audio in state.audio, prints in state.prints. A source that gives more row columns than asked
// for gives them too. A stop (state.stop) ends the gathering at once, with facts left missing.
void GatherFacts(RunState& state, std::span<const std::uint32_t> ids, WantedFacts wanted);

// Hashes the audio range of each file (path ids whose state.audio holds the range): its first
// kAudioHeadBytes, or with whole all of it, in one visit to the file on a few threads. The hash
// goes to state.audio and to the cache under the stamp the file had while it was read, where
// that is still the stamp its range was found under. A file that cannot be read to the range's
// end any more (or that a stop left unread) loses its range: it takes no part.
void GatherAudioHashes(RunState& state, std::span<const std::uint32_t> ids, bool whole);

} // namespace tunesift
