#pragma once

#include "mp3/audiorange.h"
#include "mp3/fileaccess.h"

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
    // Keeps the facts (replacing what the file had); written by flush at the latest.
    virtual void store(const FileStamp& key, const FileFacts& facts) = 0;
    virtual void flush() = 0;
};

// A run's view of the cache: per file (path id), its key and facts, looked up on first use and
// written back at the end of the run when the run read something new. Only files looked up cost
// memory beyond a pointer each.
class RunFacts
{
public:
    RunFacts() = default;
    RunFacts(FileCache* cache, std::size_t files);

    bool enabled() const { return m_cache != nullptr; }

    // The facts of the file with this id, nullptr without a cache or when the file has no key.
    // Calls for different ids may run on different threads.
    FileFacts* of(std::uint32_t id, const std::string& path);
    // The same for a name listed in a folder held open.
    FileFacts* of(std::uint32_t id, const FolderHandle& folder, std::string_view name);
    // The file's length when the cache knew it (it was then readable, and its key is unchanged).
    std::optional<std::int64_t> knownSize(std::uint32_t id, const std::string& path);
    // The facts of the file were added to: keep them.
    void noteRead(std::uint32_t id) { m_slots->of[id]->read = true; }

    void storeRead();

private:
    template <typename Query>
    FileFacts* lookUp(std::uint32_t id, Query query);

    struct Slot
    {
        bool hit = false;
        bool read = false;
        std::optional<FileStamp> key;
        FileFacts facts;
    };
    // Slots are made in chunks as files are looked up and never move.
    struct Slots
    {
        std::vector<Slot*> of; // per id; nullptr until looked up
        std::mutex mutex;      // guards chunks and used
        std::vector<std::unique_ptr<Slot[]>> chunks;
        std::size_t used = 0; // slots taken from the last chunk
    };
    FileCache* m_cache = nullptr;
    std::unique_ptr<Slots> m_slots;
};

} // namespace tunesift
