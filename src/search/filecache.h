#pragma once

#include "files/fileaccess.h"
#include "mp3/audiorange.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// What reading a file found. Each group is filled when that read was made.
struct FileFacts
{
    // The analysis, as a result row shows it.
    bool analysed = false;
    bool id3v1Read = false;
    bool id3v2Read = false;
    // Exact Audio's: the range (empty when the file has no frame) and the hashes made of it.
    bool audioRead = false;
    std::int32_t bitRate = 0;
    std::int64_t rowSize = 0;
    std::int64_t songLength = 0;
    std::int64_t headerOffset = -1; // -1: no frame found

    std::optional<std::string> id3v1Title; // as ReadTagTitle returns it
    std::optional<std::string> id3v2Title; // as ID3v2TitleOf returns it
    AudioFacts audio;
};

// Keeps facts of files between runs. A cache only ever spares reads: whatever it fails to give,
// the run reads. Implementations are safe to call from several threads.
class FileCache
{
public:
    virtual ~FileCache() = default;
    // The facts kept under exactly this stamp (the file and its state, see FileStamp); nothing
    // for an unknown or changed file.
    virtual std::optional<FileFacts> find(const FileStamp& key) = 0;
    // Adds the groups filled in facts (a hash of the audio counts as a group of its own) to what
    // is kept under the same stamp; what was kept under another stamp of the file goes. Written
    // by flush at the latest.
    virtual void store(const FileStamp& key, const FileFacts& facts) = 0;
    virtual void flush() = 0;
    // True when the cache holds no file's facts at all (a first run): asking it would be in vain.
    virtual bool empty() = 0;

    // The acoustic print kept under exactly this stamp and made by this pipeline (see
    // AudioPrintPipeline); nothing otherwise. Prints are kept apart from the other facts, as
    // they are a hundred times larger and only Similar Audio wants them.
    virtual std::optional<std::vector<std::uint32_t>> findPrint(const FileStamp& key,
                                                                std::string_view pipeline)
    {
        (void)key;
        (void)pipeline;
        return std::nullopt;
    }
    virtual void storePrint(const FileStamp& key, std::string_view pipeline,
                            const std::vector<std::uint32_t>& print)
    {
        (void)key;
        (void)pipeline;
        (void)print;
    }
    // The facts and, into print, the print kept under the same stamp by this pipeline, in one
    // look-up: a run that compares prints asks for them with the file's other facts.
    virtual std::optional<FileFacts> findWithPrint(const FileStamp& key, std::string_view pipeline,
                                                   std::optional<std::vector<std::uint32_t>>& print)
    {
        std::optional<FileFacts> facts = find(key);
        print = facts ? findPrint(key, pipeline) : std::nullopt;
        return facts;
    }
};

// A file as the cache knows it in this run.
struct CachedFile
{
    FileStamp key;    // as the file was when first looked up in this run
    bool hit = false; // the cache held facts under this key
    FileFacts facts;  // what it held; a read adds to them before keep
    // The print kept with the facts, where the look-up asked for one and the cache held it.
    std::optional<std::vector<std::uint32_t>> print;
};

// A run's view of the cache. Per file (path id) it holds only a digest of the key the file had
// when first asked about and whether the cache knew it then: every later look-up examines the
// file again and finds it unchanged or not, facts are asked of the cache each time, and what a
// read finds goes to the cache at once. Files not looked up cost 4 bytes each, others 12.
class RunFacts
{
public:
    RunFacts() = default;
    RunFacts(FileCache* cache, std::size_t files);

    bool enabled() const { return m_cache != nullptr; }
    // The cache held facts when the run began: a look-up before a read may spare the read. When
    // it held none, the cache is not asked, and a caller may key a file on what its read found
    // of it (of with the read's stamp) instead of taking the stamp first.
    bool mayFind() const { return m_mayFind; }

    // The file with this id, nothing without a cache, when the file cannot be examined, or when
    // it changed since its first look-up. Without withFacts the cache is not asked for facts
    // (the file's key is all the caller needs, to keep what it read). Calls for different ids
    // may run on different threads.
    std::optional<CachedFile> of(std::uint32_t id, const std::string& path, bool withFacts = true);
    // The same for a name listed in a folder held open.
    std::optional<CachedFile> of(std::uint32_t id, const FolderHandle& folder,
                                 std::string_view name);
    // The same for the stamp the caller has just taken of the file (nothing: it could not be
    // examined). With a pipeline named, the print that pipeline made of the file comes with the
    // facts, from the same look-up.
    std::optional<CachedFile> of(std::uint32_t id, const std::optional<FileStamp>& stamp,
                                 bool withFacts, std::string_view printPipeline = {});
    // Adds what was read of the file (file.facts) to the cache under its key.
    void keep(const CachedFile& file);
    void keepPrint(const CachedFile& file, std::string_view pipeline,
                   const std::vector<std::uint32_t>& print);

    void flush();

private:
    template <typename Query>
    std::optional<CachedFile> lookUp(std::uint32_t id, Query query, bool withFacts,
                                     std::string_view printPipeline = {});
    void findInto(CachedFile& file, std::string_view printPipeline);

    // A file's word: bit 0 looked up, bit 1 keyed, bit 2 known to the cache, the rest a digest
    // of the key. Words are made in chunks as files are looked up, and never move.
    struct Words
    {
        std::vector<std::uint32_t> of; // per id: 1 + its word's number; 0 before the first look-up
        std::vector<std::unique_ptr<std::uint64_t[]>> chunks; // as many as could be needed
        std::mutex mutex;                                     // guards making words
        std::uint32_t used = 0;
    };
    FileCache* m_cache = nullptr;
    bool m_mayFind = false;
    std::unique_ptr<Words> m_words;
};

} // namespace tunesift
