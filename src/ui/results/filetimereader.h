#pragma once

#include "search/resultlist.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace tunesift {

// The modification times of a result list's files, by file (the rows' pathId). start() reads
// them on a thread of their own as soon as a search has filled the list, so that the keep rules
// seldom wait for the disk; whatever that thread has not reached yet is read when asked for.
// The thread works on a copy of the files' folders and names, never on the list itself.
class FileTimeReader
{
public:
    FileTimeReader() = default;
    FileTimeReader(const FileTimeReader&) = delete;
    FileTimeReader& operator=(const FileTimeReader&) = delete;
    ~FileTimeReader() { forget(); }

    // Forgets what was read before and starts reading the times of the list's files.
    void start(const ResultList& list);
    // Stops the reading thread and forgets every time (a new search reads them anew).
    void forget();
    // Waits until the reading thread is done (for benchmarks and tests).
    void wait();

    // The times of the rows' files (nothing for a file that cannot be read), in the rows' order.
    std::vector<std::optional<std::int64_t>> timesOf(const ResultList& list,
                                                     const std::vector<std::size_t>& rows);

private:
    static constexpr std::int64_t kNotRead = INT64_MIN;
    static constexpr std::int64_t kUnreadable = INT64_MIN + 1;

    // One time per file: written by the reading thread and by timesOf, as they get there.
    struct Times
    {
        explicit Times(std::size_t files) : byFile(files) {}
        std::vector<std::atomic<std::int64_t>> byFile;
        std::atomic<bool> stop{false};
    };
    // Reads the times of the given rows' files, a folder at a time, into the table.
    struct Batch;
    static void read(const Batch& batch, Times& times);
    static Batch batchOf(const ResultList& list, const std::vector<std::size_t>& rows);
    void makeTable(const ResultList& list);

    std::shared_ptr<Times> m_times;
    std::thread m_thread;
};

} // namespace tunesift
