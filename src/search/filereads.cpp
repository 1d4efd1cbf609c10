#include "search/filereads.h"

#include "search/filesize.h"

#include <algorithm>
#include <string_view>

namespace tunesift {

void fillRowInfo(RunState::RowInfo& info, const clsMP3Info& analysis, const std::string& path)
{
    info.songLength = analysis.SongLength();
    info.bitRate = analysis.BitRate();
    // The analysis opened the file and knows its length; only when it kept none (the file could
    // not be opened, or holds no frame) is the size asked for on its own.
    info.size = analysis.FileSize();
    if (info.size <= 0)
        info.size = FileSize2(path);
    info.known = true;
}

void takeReadColumns(RunState::RowInfo& info, const Catalogue& catalogue, std::uint32_t entry)
{
    const RowColumns& columns = catalogue.readColumns(entry);
    info.size = catalogue.size(entry);
    info.songLength = columns.songLength;
    info.bitRate = columns.bitRate;
    info.known = true;
}

bool addAnalysis(FileFacts& facts, const RunState::RowInfo& info, const clsMP3Info& analysis)
{
    if (info.size <= 0)
        return false;
    facts.analysed = true;
    facts.rowSize = info.size;
    facts.songLength = info.songLength;
    facts.bitRate = info.bitRate;
    facts.headerOffset = analysis.FileName().empty() ? -1 : analysis.HeaderOffset();
    return true;
}

void FillRowColumns(RunState& state)
{
    ResultList& results = state.session.results();
    const Catalogue& catalogue = state.session.catalogue();
    // A file stands at most once among one criterion's rows; it is read under its first entry.
    std::vector<std::uint32_t> unread;
    for (std::size_t k = state.criterionFirstRow; k < results.size(); ++k)
        if (!state.rowInfo[results.row(k).pathId].known)
            unread.push_back(results.row(k).pathId);
    std::sort(unread.begin(), unread.end());
    if (!unread.empty())
        state.meter.begin(WorkPhase::Reading, unread.size());
    ForEachInFolders(
        catalogue, unread.size(), [&](std::size_t k) { return unread[k]; },
        [&](const FolderHandle& folder, std::uint32_t id) {
            state.meter.add();
            const std::string_view name = catalogue.name(id);
            RunState::RowInfo& info = state.rowInfo[id];
            if (catalogue.hasTitle(id)) {
                // Read in the scan: still good while the file is unchanged (of a distant file the
                // scan's read stands for the run).
                const std::optional<FileStamp> now = catalogue.filesAreDistant()
                                                         ? catalogue.titleStamp(id)
                                                         : QueryFileStamp(folder, name);
                if (now && *now == catalogue.titleStamp(id)) {
                    takeReadColumns(info, catalogue, id);
                    return;
                }
            }
            const std::optional<FileStamp> listed = catalogue.listedStamp(id);
            std::optional<CachedFile> file =
                listed ? lookUpFile(state, id, listed, true) : lookUpFile(state, id, folder, name);
            if (info.known)
                return;
            clsMP3Info analysis; // each reading thread analyses with its own
            analysis.SetListedFileName(folder, name);
            fillRowInfo(info, analysis, folder.path() + std::string(name));
            if (file && addAnalysis(file->facts, info, analysis))
                state.facts.keep(*file);
        });
    for (std::size_t k = state.criterionFirstRow; k < results.size(); ++k) {
        const RunState::RowInfo& info = state.rowInfo[results.row(k).pathId];
        results.setColumns(k, info.size, info.songLength, info.bitRate);
    }
}

void keepTitles(RunState& state, CachedFile& file, SizeAndTagTitle&& read)
{
    if (!read.size)
        return;
    FileFacts& facts = file.facts;
    facts.id3v1Read = true;
    facts.id3v1Title = std::move(read.title);
    if (state.id3v2Titles) {
        facts.id3v2Read = true;
        facts.id3v2Title = std::move(read.id3v2Title);
    }
    state.facts.keep(file);
}

std::optional<std::string> titleOf(const RunState& state, const FileFacts& facts)
{
    if (!facts.id3v1Read || (state.id3v2Titles && !facts.id3v2Read))
        return std::nullopt;
    return ComparedTitle(facts.id3v1Title, state.id3v2Titles ? facts.id3v2Title : std::nullopt);
}

void ReadTitles(RunState& state)
{
    Catalogue& catalogue = state.session.catalogue();
    std::vector<std::string>& titles = state.session.titles();
    if (state.titleKnown.empty()) {
        titles.assign(catalogue.count(), std::string());
        state.titleKnown.assign(catalogue.count(), 0);
    }
    const bool id3v2 = state.id3v2Titles;
    // A later entry of a file takes the title of its first; the file is looked up in the cache
    // and kept there under its first entry only.
    std::vector<std::uint32_t> entries;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (state.pathId[entry] == entry && !state.titleKnown[entry])
            entries.push_back(entry);
    const auto fromCache = [&](std::uint32_t entry, const std::optional<CachedFile>& file) {
        std::optional<std::string> title = file ? titleOf(state, file->facts) : std::nullopt;
        if (title)
            titles[entry] = std::move(*title);
        return title.has_value();
    };
    // A cache that held nothing was not asked: the file is keyed as its read found it.
    const bool keyOnRead = state.facts.enabled() && !state.facts.mayFind();
    const auto readFile = [&](const FolderHandle& folder, std::uint32_t entry,
                              std::optional<CachedFile> file) {
        const std::string_view name = catalogue.name(entry);
        if (catalogue.hasTitle(entry)) {
            // Read when the scan asked for the size: still good while the file is unchanged (a
            // look-up has just taken its stamp; of a distant file the scan's read stands for
            // the run).
            const std::optional<FileStamp> now = file ? file->key
                                                 : catalogue.filesAreDistant()
                                                     ? catalogue.titleStamp(entry)
                                                     : QueryFileStamp(folder, name);
            if (now && *now == catalogue.titleStamp(entry)) {
                titles[entry] = catalogue.title(entry);
                if (!state.rowInfo[entry].known)
                    takeReadColumns(state.rowInfo[entry], catalogue, entry);
                return;
            }
        }
        if (!file && !keyOnRead && !id3v2) {
            titles[entry] = ReadTagTitle(folder, name).value_or(std::string());
            return;
        }
        SizeAndTagTitle read = ReadSizeAndTagTitle(folder, name, id3v2);
        titles[entry] = ComparedTitle(read.title, read.id3v2Title);
        if (keyOnRead)
            file = state.facts.of(entry, read.stamp, false);
        if (file)
            keepTitles(state, *file, std::move(read));
    };
    lookUpThenRead(state, entries, true, fromCache, readFile);
    std::vector<std::uint32_t>().swap(entries);
    for (std::size_t entry = 0; entry < titles.size(); ++entry)
        if (state.pathId[entry] != entry)
            titles[entry] = titles[state.pathId[entry]];
    catalogue.dropTitles();
    std::vector<std::uint8_t>().swap(state.titleKnown);
    state.titlesRead = true;
}

void ReadSizes(RunState& state)
{
    Catalogue& catalogue = state.session.catalogue();
    // With a cache the scan leaves the reading to this step, which then reads the titles in the
    // same visit where a tag criterion will want them.
    const bool withTitles =
        state.facts.enabled() && (state.host.isCriterionTicked(Criterion::ExactTag) ||
                                  state.host.isCriterionTicked(Criterion::SimilarTag));
    std::vector<std::string>& titles = state.session.titles();
    if (withTitles) { // the titles found here wait for the tag criteria
        titles.assign(catalogue.count(), std::string());
        state.titleKnown.assign(catalogue.count(), 0);
    }
    const auto takeTitle = [&](std::uint32_t id, std::optional<std::string>&& title) {
        if (title) {
            titles[id] = std::move(*title);
            state.titleKnown[id] = 1;
        }
    };
    // Sizes the scan did not read (the box was ticked later) are read now: empty size texts must
    // never make files of different sizes equal. A later entry of a file takes the size of its
    // first.
    std::vector<std::uint32_t> pending;
    for (std::uint32_t entry = 0; entry < catalogue.count(); ++entry)
        if (catalogue.size(entry) == Catalogue::kSizeNotRead && state.pathId[entry] == entry)
            pending.push_back(entry);
    // A file the cache knows was readable when its key was the same as now.
    const auto fromCache = [&](std::uint32_t entry, const std::optional<CachedFile>& file) {
        if (!file || !file->hit)
            return false;
        catalogue.setSize(entry, file->key.size);
        if (withTitles)
            takeTitle(entry, titleOf(state, file->facts));
        return true;
    };
    const auto readFile = [&](const FolderHandle& folder, std::uint32_t entry,
                              std::optional<CachedFile> file) {
        const std::string_view name = catalogue.name(entry);
        // A cache that held nothing was not asked: the file is keyed as its read found it.
        const bool keyOnRead = withTitles && !state.facts.mayFind();
        if (!keyOnRead && (!file || !withTitles)) {
            catalogue.setSize(entry,
                              QueryFileSize(folder, name).value_or(Catalogue::kSizeUnreadable));
            return;
        }
        SizeAndTagTitle read = ReadSizeAndTagTitle(folder, name, state.id3v2Titles);
        catalogue.setSize(entry, read.size.value_or(Catalogue::kSizeUnreadable));
        if (keyOnRead)
            file = state.facts.of(entry, read.stamp, false);
        if (!file)
            return;
        keepTitles(state, *file, std::move(read));
        takeTitle(entry, titleOf(state, file->facts));
    };
    lookUpThenRead(state, pending, withTitles, fromCache, readFile);
}

} // namespace tunesift
