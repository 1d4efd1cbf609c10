#include "ui/results/songtagreader.h"

#include "cache/defaultcache.h"
#include "search/songtagcache.h"

#include <QMetaObject>
#include <chrono>
#include <string>

namespace tunesift {

namespace {

// A batch goes to the window after this many files or this long, whichever comes first.
constexpr std::size_t kBatchFiles = 500;
constexpr auto kBatchTime = std::chrono::milliseconds(100);

} // namespace

SongTagReader::SongTagReader(QObject* parent) : QObject(parent) {}

SongTagReader::~SongTagReader()
{
    forget();
}

void SongTagReader::start(const ResultList& list)
{
    forget();
    std::uint32_t files = 0;
    for (std::size_t row = 0; row < list.size(); ++row)
        files = std::max(files, list.row(row).pathId + 1);
    m_byFile.assign(files, std::nullopt);
    std::vector<char> seen(files, 0);
    std::vector<std::pair<std::uint32_t, std::string>> paths;
    for (std::size_t row = 0; row < list.size(); ++row) {
        const std::uint32_t id = list.row(row).pathId;
        if (!seen[id]) {
            seen[id] = 1;
            paths.emplace_back(id, list.path(row));
        }
    }
    m_stop = std::make_shared<std::atomic<bool>>(false);
    m_reading = true;
    const std::uint64_t generation = ++m_generation;
    m_thread = std::thread([this, paths = std::move(paths), stop = m_stop, generation] {
        const std::unique_ptr<SongTagCache> cache = OpenDefaultSongTagCache();
        std::vector<Read> batch;
        auto sent = std::chrono::steady_clock::now();
        for (std::size_t k = 0; k < paths.size(); ++k) {
            if (stop->load(std::memory_order_relaxed))
                return;
            batch.push_back({paths[k].first, SongTagsOf(paths[k].second, cache.get())});
            const auto now = std::chrono::steady_clock::now();
            const bool last = k + 1 == paths.size();
            if (last || batch.size() >= kBatchFiles || now - sent >= kBatchTime) {
                if (cache)
                    cache->flush();
                QMetaObject::invokeMethod(
                    this,
                    [this, generation, batch = std::move(batch), last] {
                        take(generation, batch, last);
                    },
                    Qt::QueuedConnection);
                batch = {};
                sent = now;
            }
        }
        if (paths.empty())
            QMetaObject::invokeMethod(
                this, [this, generation] { take(generation, {}, true); }, Qt::QueuedConnection);
    });
}

void SongTagReader::forget()
{
    if (m_stop)
        m_stop->store(true);
    if (m_thread.joinable())
        m_thread.join();
    m_stop.reset();
    m_reading = false;
    ++m_generation; // batches still on their way belong to the list forgotten here
    m_byFile.clear();
}

void SongTagReader::take(std::uint64_t generation, const std::vector<Read>& batch, bool last)
{
    if (generation != m_generation)
        return;
    for (const Read& read : batch) {
        if (read.pathId < m_byFile.size())
            m_byFile[read.pathId] = read.tags;
    }
    if (last) {
        m_reading = false;
        if (m_thread.joinable())
            m_thread.join();
    }
    emit tagsRead();
    if (last)
        emit finished();
}

const SongTags* SongTagReader::tagsOf(std::uint32_t pathId) const
{
    if (pathId >= m_byFile.size() || !m_byFile[pathId])
        return nullptr;
    return &*m_byFile[pathId];
}

} // namespace tunesift
