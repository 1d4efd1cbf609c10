#include "search/filecache.h"

namespace tunesift {

namespace {

constexpr std::uint32_t kWordsPerChunk = 8192;
constexpr std::uint64_t kLooked = 1;
constexpr std::uint64_t kKeyed = 2;
constexpr std::uint64_t kHit = 4;
constexpr std::uint64_t kFlags = 7;

std::uint64_t mix(std::uint64_t x)
{
    // splitmix64's finaliser
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
}

std::uint64_t digest(const FileStamp& key)
{
    std::uint64_t h = mix(key.inode);
    for (const std::uint64_t part :
         {key.device, static_cast<std::uint64_t>(key.size),
          static_cast<std::uint64_t>(key.modifiedNs), static_cast<std::uint64_t>(key.changedNs)})
        h = mix(h ^ part);
    return h & ~kFlags;
}

} // namespace

RunFacts::RunFacts(FileCache* cache, std::size_t files) : m_cache(cache)
{
    if (m_cache) {
        m_mayFind = !m_cache->empty();
        m_words = std::make_unique<Words>();
        m_words->of.assign(files, 0);
        m_words->chunks.resize((files + kWordsPerChunk - 1) / kWordsPerChunk);
    }
}

void RunFacts::findInto(CachedFile& file, std::string_view printPipeline)
{
    std::optional<FileFacts> found =
        printPipeline.empty() ? m_cache->find(file.key)
                              : m_cache->findWithPrint(file.key, printPipeline, file.print);
    file.hit = found.has_value();
    if (found)
        file.facts = std::move(*found);
    else
        file.print.reset();
}

template <typename Query>
std::optional<CachedFile> RunFacts::lookUp(std::uint32_t id, Query query, bool withFacts,
                                           std::string_view printPipeline)
{
    if (!m_cache)
        return std::nullopt;
    // A file is looked up by one thread at a time; others may look up other files meanwhile.
    std::uint32_t number = m_words->of[id];
    std::uint64_t word = 0;
    if (number != 0) {
        word = m_words->chunks[(number - 1) / kWordsPerChunk][(number - 1) % kWordsPerChunk];
        if (!(word & kKeyed))
            return std::nullopt;
    }
    std::optional<CachedFile> file;
    if (const std::optional<FileStamp> key = query())
        file.emplace().key = *key;
    if (number != 0) {
        if (!file || digest(file->key) != (word & ~kFlags))
            return std::nullopt; // changed during the run: read, never kept
        file->hit = (word & kHit) != 0;
        if ((withFacts || !printPipeline.empty()) && file->hit)
            findInto(*file, printPipeline);
        return file;
    }
    if (file) {
        if (m_mayFind)
            findInto(*file, printPipeline);
        word = digest(file->key) | kKeyed | (file->hit ? kHit : 0);
    }
    {
        std::lock_guard lock(m_words->mutex);
        number = ++m_words->used;
        std::unique_ptr<std::uint64_t[]>& chunk = m_words->chunks[(number - 1) / kWordsPerChunk];
        if (!chunk)
            chunk = std::make_unique<std::uint64_t[]>(kWordsPerChunk);
        chunk[(number - 1) % kWordsPerChunk] = word | kLooked;
    }
    m_words->of[id] = number;
    return file;
}

std::optional<CachedFile> RunFacts::of(std::uint32_t id, const std::string& path, bool withFacts)
{
    return lookUp(
        id, [&] { return QueryFileStamp(path); }, withFacts);
}

std::optional<CachedFile> RunFacts::of(std::uint32_t id, const FolderHandle& folder,
                                       std::string_view name)
{
    return lookUp(
        id, [&] { return QueryFileStamp(folder, name); }, true);
}

std::optional<CachedFile> RunFacts::of(std::uint32_t id, const std::optional<FileStamp>& stamp,
                                       bool withFacts, std::string_view printPipeline)
{
    return lookUp(
        id, [&] { return stamp; }, withFacts, printPipeline);
}

void RunFacts::keep(const CachedFile& file)
{
    if (m_cache)
        m_cache->store(file.key, file.facts);
}

void RunFacts::keepPrint(const CachedFile& file, std::string_view pipeline,
                         const std::vector<std::uint32_t>& print)
{
    if (m_cache)
        m_cache->storePrint(file.key, pipeline, print);
}

void RunFacts::flush()
{
    if (m_cache)
        m_cache->flush();
}

} // namespace tunesift
