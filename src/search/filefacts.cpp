#include "search/filefacts.h"

#include "files/fileaccess.h"
#include "mp3/audioprint.h"
#include "mp3/id3v1.h"
#include "mp3/mp3analysis.h"
#include "search/audiomatch.h"
#include "search/folderreads.h"
#include "search/parallel.h"
#include "search/progress.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <numeric>
#include <thread>
#include <utility>
#include <vector>

namespace tunesift {

namespace {

// Files gathered together: bounds the stamps held at once.
constexpr std::size_t kBlock = std::size_t{1} << 16;

// A file of a block and what it still lacks.
struct Pending
{
    std::uint32_t id = 0;
    WantedFacts missing;
    std::optional<FileStamp> now; // taken where the scan's read or the cache may give facts
};

class Gatherer
{
public:
    Gatherer(RunState& state, WantedFacts wanted)
        : m_state(state), m_catalogue(state.session.catalogue()), m_wanted(wanted)
    {}

    void run(std::span<const std::uint32_t> ids)
    {
        for (std::size_t first = 0; first < ids.size(); first += kBlock) {
            const std::span<const std::uint32_t> block =
                ids.subspan(first, std::min(kBlock, ids.size() - first));
            m_pending.clear();
            for (const std::uint32_t id : block)
                if (const WantedFacts missing = missingOf(id, m_wanted); missing.any())
                    m_pending.push_back({id, missing, std::nullopt});
            m_state.meter.add(block.size() - m_pending.size());
            fromScan();
            fromCache();
            fromFiles();
            if (m_state.stop.raised())
                return;
        }
    }

private:
    WantedFacts missingOf(std::uint32_t id, WantedFacts wanted) const
    {
        WantedFacts missing;
        missing.size = wanted.size && m_catalogue.size(id) == Catalogue::kSizeNotRead;
        missing.title = wanted.title && m_state.titleKnown[id] == 0;
        missing.rowColumns = wanted.rowColumns && !m_state.rowInfo[id].known;
        missing.audio = wanted.audio && m_state.audioKnown[id] == 0;
        missing.print = wanted.print && !printKnown(id);
        return missing;
    }

    void dropDone()
    {
        const std::size_t before = m_pending.size();
        std::erase_if(m_pending, [](const Pending& p) { return !p.missing.any(); });
        m_state.meter.add(before - m_pending.size());
    }

    template <typename Work>
    void forEachPending(Work work, WorkKind kind = WorkKind::SystemCalls)
    {
        ForEachInFolders(
            m_catalogue, m_pending.size(), [&](std::size_t k) { return m_pending[k].id; },
            [&](const FolderHandle& folder, std::uint32_t, std::size_t k) {
                work(folder, m_pending[k]);
            },
            kind, &m_state.stop);
    }

    // Takes the facts' groups into the run; what they hold is no longer missing.
    void take(Pending& p, const FileFacts& facts)
    {
        if (p.missing.title) {
            if (std::optional<std::string> title = ComparedTitleOf(facts, m_state.id3v2Titles)) {
                m_state.session.titles()[p.id] = std::move(*title);
                m_state.titleKnown[p.id] = 1;
                p.missing.title = false;
            }
        }
        RunState::RowInfo& info = m_state.rowInfo[p.id];
        if (facts.analysed && !info.known) {
            info = {facts.rowSize, facts.songLength, facts.bitRate, true};
            p.missing.rowColumns = false;
        }
        if (p.missing.audio && facts.audioRead) {
            m_state.audio[p.id] = facts.audio;
            m_state.audioKnown[p.id] = 1;
            p.missing.audio = false;
        }
    }

    bool printKnown(std::uint32_t id) const
    {
        return !m_state.printKnown.empty() && m_state.printKnown[id] != 0;
    }

    // Each file's print is taken once, by one thread.
    void takePrint(Pending& p, const std::vector<std::uint32_t>& print)
    {
        if (HasEnoughSound(print))
            m_state.prints->add(p.id, print);
        m_state.printKnown[p.id] = 1;
        p.missing.print = false;
    }

    // The file's stamp as the run takes it now: taken afresh, except of a distant file (on a
    // share), of which what the run looked at once stands for the run: the stamp taken while its
    // folder was listed, or the one of the scan's read.
    std::optional<FileStamp> stampNow(const FolderHandle& folder, std::uint32_t id) const
    {
        if (std::optional<FileStamp> listed = m_catalogue.listedStamp(id))
            return listed;
        if (m_catalogue.filesAreDistant() && m_catalogue.hasTitle(id))
            return m_catalogue.titleStamp(id);
        return QueryFileStamp(folder, m_catalogue.name(id));
    }

    // What the scan read of the file when it opened it for its size.
    void fromScan()
    {
        const bool mayFind = m_state.facts.mayFind();
        forEachPending([&](const FolderHandle& folder, Pending& p) {
            const bool readAhead = m_catalogue.hasTitle(p.id);
            if (!readAhead && !mayFind)
                return;
            p.now = stampNow(folder, p.id);
            if (!readAhead || !UnchangedSince(m_catalogue.titleStamp(p.id), p.now))
                return;
            if (p.missing.title) {
                m_state.session.titles()[p.id] = m_catalogue.title(p.id);
                m_state.titleKnown[p.id] = 1;
                p.missing.title = false;
            }
            RunState::RowInfo& info = m_state.rowInfo[p.id];
            if (!info.known) {
                const RowColumns& columns = m_catalogue.readColumns(p.id);
                info = {m_catalogue.size(p.id), columns.songLength, columns.bitRate, true};
                p.missing.rowColumns = false;
            }
        });
        dropDone();
    }

    // The cache, asked on this thread in the order of the files' (device, inode), which walks
    // its index in order and never hands its lock between threads.
    void fromCache()
    {
        if (!m_state.facts.mayFind() || m_state.stop.raised())
            return;
        const auto place = [](const Pending& p) {
            return p.now ? std::pair(p.now->device, p.now->inode)
                         : std::pair(std::uint64_t{0}, std::uint64_t{0});
        };
        std::vector<std::uint32_t> order(m_pending.size());
        std::iota(order.begin(), order.end(), 0u);
        std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
            return place(m_pending[a]) < place(m_pending[b]);
        });
        const bool withFacts = m_wanted.title || m_wanted.rowColumns || m_wanted.audio;
        // Prints the run holds come with the facts, whichever stage asks first.
        const bool printsHeld = m_state.prints != nullptr;
        for (const std::uint32_t k : order) {
            if (m_state.stop.check())
                return;
            Pending& p = m_pending[k];
            const bool withPrint = printsHeld && !printKnown(p.id);
            const std::optional<CachedFile> file = m_state.facts.of(
                p.id, p.now, withFacts, withPrint ? AudioPrintPipeline() : std::string_view());
            if (!file || !file->hit)
                continue;
            // The cache holds facts only of files it could open: the size is the key's.
            if (p.missing.size) {
                m_catalogue.setSize(p.id, file->key.size);
                p.missing.size = false;
            }
            take(p, file->facts);
            if (file->print)
                takePrint(p, *file->print);
        }
        dropDone();
    }

    // The file itself, each in one visit; what was read goes to the cache.
    void fromFiles()
    {
        if (m_state.stop.raised())
            return;
        forEachPending(
            [&](const FolderHandle& folder, Pending& p) {
                ReadFacts read =
                    ReadFileFacts(folder, m_catalogue.name(p.id), p.missing, m_state.id3v2Titles);
                if (p.missing.size)
                    m_catalogue.setSize(p.id, read.size.value_or(Catalogue::kSizeUnreadable));
                take(p, read.facts);
                if (read.print)
                    takePrint(p, *read.print);
                m_state.meter.add();
                if (!read.stamp || !m_state.facts.enabled())
                    return;
                if (std::optional<CachedFile> file = m_state.facts.of(p.id, read.stamp, false)) {
                    file->facts = std::move(read.facts);
                    m_state.facts.keep(*file);
                    if (read.print)
                        m_state.facts.keepPrint(*file, AudioPrintPipeline(), *read.print);
                }
            },
            m_wanted.audio || m_wanted.print ? WorkKind::DiskReads : WorkKind::SystemCalls);
    }

    RunState& m_state;
    Catalogue& m_catalogue;
    WantedFacts m_wanted;
    std::vector<Pending> m_pending;
};

} // namespace

ReadFacts ReadFileFacts(const FolderHandle& folder, std::string_view name, WantedFacts wanted,
                        bool id3v2Titles)
{
    ReadFacts read;
    FileFacts& facts = read.facts;
    // A file that cannot be opened has size 0 in its rows, no title and no audio.
    facts.analysed = wanted.rowColumns || wanted.audio || wanted.print;
    facts.id3v1Read = wanted.title;
    facts.id3v2Read = wanted.title && id3v2Titles;
    facts.audioRead = wanted.audio;
    if (!wanted.title && !wanted.rowColumns && !wanted.audio && !wanted.print) {
        read.size = FileSize(folder, name);
        return read;
    }
    ReadOnlyFile file;
    if (!file.open(folder, name))
        return read;
    read.size = file.size();
    read.stamp = file.stamp();
    std::optional<Mp3Analysis> analysis;
    if (facts.analysed) {
        analysis.emplace();
        analysis->analyseOpened(file, folder.path() + std::string(name));
        facts.rowSize = file.size();
        facts.songLength = analysis->songLength();
        facts.bitRate = analysis->bitRate();
        facts.headerOffset = analysis->path().empty() ? -1 : analysis->firstFrameOffset();
        facts.audio.range = analysis->audioRange();
        if (wanted.print) {
            AudioPrintResult print =
                MakeAudioPrint(file, analysis->audioRange(), analysis->sampleRate());
            if (print.outcome == AudioPrintResult::Outcome::Made)
                read.print = std::move(print.values);
        }
    }
    if (wanted.title) {
        static const std::optional<std::array<unsigned char, kID3v1TagSize>> kNoRecord;
        SizeAndTagTitle title =
            ReadSizeAndTagTitle(file, id3v2Titles, analysis ? analysis->lastRecord() : kNoRecord);
        facts.id3v1Title = std::move(title.title);
        facts.id3v2Title = std::move(title.id3v2Title);
    }
    return read;
}

std::optional<std::string> ComparedTitleOf(const FileFacts& facts, bool id3v2Titles)
{
    if (!facts.id3v1Read || (id3v2Titles && !facts.id3v2Read))
        return std::nullopt;
    return ComparedTitle(facts.id3v1Title, id3v2Titles ? facts.id3v2Title : std::nullopt);
}

void GatherAudioHashes(RunState& state, std::span<const std::uint32_t> ids, bool whole)
{
    const Catalogue& catalogue = state.session.catalogue();
    ParallelFor(
        ids.size(),
        [&](std::size_t k) {
            thread_local std::unique_ptr<unsigned char[]> buffer;
            constexpr std::size_t kBuffer = std::size_t{1} << 20;
            if (!buffer)
                buffer = std::make_unique_for_overwrite<unsigned char[]>(kBuffer);
            const std::uint32_t id = ids[k];
            AudioFacts& audio = state.audio[id];
            std::optional<AudioHash>& hash = whole ? audio.whole : audio.head;
            const std::int64_t count =
                whole ? audio.range.length : std::min(audio.range.length, kAudioHeadBytes);
            ReadOnlyFile file;
            if (file.openListed(catalogue.path(id)))
                hash = HashFileBytes(file, audio.range.start, count, {buffer.get(), kBuffer},
                                     [&] { return state.stop.check(); });
            state.meter.add(static_cast<std::uint64_t>(count));
            if (!hash) {
                audio.range = AudioRange{};
                return;
            }
            if (!whole && audio.range.length <= kAudioHeadBytes)
                audio.whole = audio.head;
            if (std::optional<CachedFile> cached = state.facts.of(id, file.stamp(), false)) {
                cached->facts.audioRead = true;
                cached->facts.audio = audio;
                state.facts.keep(*cached);
            }
        },
        WorkKind::DiskReads, &state.stop);
}

void GatherFacts(RunState& state, std::span<const std::uint32_t> ids, WantedFacts wanted)
{
    if (wanted.audio && state.audioKnown.empty()) {
        state.audio.assign(state.pathCount, {});
        state.audioKnown.assign(state.pathCount, 0);
    }
    Gatherer(state, wanted).run(ids);
}

} // namespace tunesift
