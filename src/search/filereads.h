#pragma once

#include "mp3/fileaccess.h"
#include "mp3/id3v1.h"
#include "mp3/mp3info.h"
#include "search/folderreads.h"
#include "search/runstate.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <numeric>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace tunesift {

// The columns of a file's rows from the analysis just made of it.
void fillRowInfo(RunState::RowInfo& info, const clsMP3Info& analysis, const std::string& path);

// The columns of an entry's rows from what the scan read of it.
void takeReadColumns(RunState::RowInfo& info, const Catalogue& catalogue, std::uint32_t entry);

// Adds what an analysis found for the file's rows to its facts, when it found the file's length.
bool addAnalysis(FileFacts& facts, const RunState::RowInfo& info, const clsMP3Info& analysis);

// Keeps the titles just read in the file's facts (nothing when the read failed).
void keepTitles(RunState& state, CachedFile& file, SizeAndTagTitle&& read);

// The title the tag criteria compare, when the facts hold what it is made of.
std::optional<std::string> titleOf(const RunState& state, const FileFacts& facts);

// Reads the files of the rows written since criterionFirstRow that this run has not read yet,
// several at a time, and gives those rows their columns.
void FillRowColumns(RunState& state);

// Fills the titles of all catalogue entries from their tags (empty without a tag).
void ReadTitles(RunState& state);

// Reads the sizes the scan did not read, and with a cache the titles a tag criterion will want.
void ReadSizes(RunState& state);

// The file as the cache knows it; the columns of its rows are taken from there when known.
template <typename... Where>
std::optional<CachedFile> lookUpFile(RunState& state, std::uint32_t id, Where&&... where)
{
    std::optional<CachedFile> file = state.facts.of(id, std::forward<Where>(where)...);
    RunState::RowInfo& info = state.rowInfo[id];
    if (file && file->facts.analysed && !info.known) {
        info.size = file->facts.rowSize;
        info.songLength = file->facts.songLength;
        info.bitRate = file->facts.bitRate;
        info.known = true;
    }
    return file;
}

// Looks the files of entries (first entries of their files, in catalogue order) up in the cache,
// a block at a time. A block's stamps are taken on a few threads, each file relative to its
// folder held open; the look-ups then run on this thread in the order of the files' (device,
// inode), which walks the cache's index in order and never hands its lock between threads.
// found(entry, file) takes what the cache knew and tells whether the entry is done; the others go
// to read(folder, entry, file) on a few threads, file being nothing where the file could not be
// examined or changed during the run. Without a cache, or with one that held nothing, every entry
// goes to read unlooked-up, with nothing for file.
template <typename Found, typename Read>
void lookUpThenRead(RunState& state, std::span<const std::uint32_t> entries, bool withFacts,
                    Found found, Read read)
{
    const Catalogue& catalogue = state.session.catalogue();
    ProgressMeter& meter = state.meter;
    if (!entries.empty())
        meter.begin(WorkPhase::Reading, entries.size());
    if (!state.facts.mayFind()) {
        ForEachInFolders(
            catalogue, entries.size(), [&](std::size_t k) { return entries[k]; },
            [&](const FolderHandle& folder, std::uint32_t entry) {
                read(folder, entry, std::nullopt);
                meter.add();
            });
        return;
    }
    constexpr std::size_t kBlock = std::size_t{1} << 16; // bounds the stamps held at once
    std::vector<std::optional<FileStamp>> stamps;
    std::vector<std::uint32_t> order; // positions in the block
    std::vector<std::uint32_t> misses;
    for (std::size_t first = 0; first < entries.size(); first += kBlock) {
        const std::span<const std::uint32_t> block =
            entries.subspan(first, std::min(kBlock, entries.size() - first));
        stamps.assign(block.size(), std::nullopt);
        // A stamp taken while the folder's listing was fresh is not taken again.
        std::vector<std::uint32_t>& unstamped = misses;
        unstamped.clear();
        for (std::uint32_t k = 0; k < block.size(); ++k) {
            stamps[k] = catalogue.listedStamp(block[k]);
            if (!stamps[k])
                unstamped.push_back(k);
        }
        ForEachInFolders(
            catalogue, unstamped.size(), [&](std::size_t j) { return block[unstamped[j]]; },
            [&](const FolderHandle& folder, std::uint32_t entry, std::size_t j) {
                stamps[unstamped[j]] = QueryFileStamp(folder, catalogue.name(entry));
            });
        const auto place = [&](std::uint32_t k) {
            const std::optional<FileStamp>& stamp = stamps[k];
            return stamp ? std::pair(stamp->device, stamp->inode)
                         : std::pair(std::uint64_t{0}, std::uint64_t{0});
        };
        order.resize(block.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return place(a) < place(b); });
        misses.clear();
        for (const std::uint32_t k : order)
            if (!found(block[k], lookUpFile(state, block[k], stamps[k], withFacts)))
                misses.push_back(k);
        meter.add(block.size() - misses.size());
        std::sort(misses.begin(), misses.end());
        ForEachInFolders(
            catalogue, misses.size(), [&](std::size_t j) { return block[misses[j]]; },
            [&](const FolderHandle& folder, std::uint32_t entry, std::size_t j) {
                // The stamp again, without the facts: the key and whether the cache knew it.
                read(folder, entry, state.facts.of(entry, stamps[misses[j]], false));
                meter.add();
            });
    }
}

} // namespace tunesift
