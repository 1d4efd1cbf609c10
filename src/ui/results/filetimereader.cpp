#include "ui/results/filetimereader.h"

#include "platform/filetimes.h"
#include "search/catalogue.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace tunesift {

// Files to read, a folder at a time: folder k holds files [folderEnd[k - 1], folderEnd[k]).
struct FileTimeReader::Batch
{
    std::vector<std::string> folders;
    std::vector<std::size_t> folderEnd;
    std::string names; // every name, one after another
    std::vector<std::size_t> nameEnd;
    std::vector<std::uint32_t> files;
};

FileTimeReader::Batch FileTimeReader::batchOf(const ResultList& list,
                                              const std::vector<std::size_t>& rows)
{
    const Catalogue& catalogue = list.catalogue();
    std::vector<std::size_t> order = rows;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return catalogue.folderId(list.row(a).entry) < catalogue.folderId(list.row(b).entry);
    });
    Batch batch;
    batch.files.reserve(order.size());
    batch.nameEnd.reserve(order.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::uint32_t entry = list.row(order[k]).entry;
        if (k == 0 ||
            catalogue.folderId(entry) != catalogue.folderId(list.row(order[k - 1]).entry)) {
            if (k > 0)
                batch.folderEnd.push_back(k);
            batch.folders.emplace_back(catalogue.folder(entry));
        }
        batch.names += catalogue.name(entry);
        batch.nameEnd.push_back(batch.names.size());
        batch.files.push_back(list.row(order[k]).pathId);
    }
    if (!order.empty())
        batch.folderEnd.push_back(order.size());
    return batch;
}

void FileTimeReader::read(const Batch& batch, Times& times)
{
    std::vector<std::string_view> names;
    std::size_t first = 0;
    for (std::size_t folder = 0; folder < batch.folders.size(); ++folder) {
        if (times.stop.load(std::memory_order_relaxed))
            return;
        names.clear();
        for (std::size_t k = first; k < batch.folderEnd[folder]; ++k) {
            const std::size_t begin = k == 0 ? 0 : batch.nameEnd[k - 1];
            names.push_back(std::string_view(batch.names).substr(begin, batch.nameEnd[k] - begin));
        }
        const std::vector<std::optional<std::int64_t>> read =
            ReadModifiedTimes(batch.folders[folder], names);
        for (std::size_t k = 0; k < names.size(); ++k) {
            // A file can stand in two folders' texts (reached through a link); either reading
            // serves.
            const std::int64_t time = read[k] ? std::max(*read[k], kUnreadable + 1) : kUnreadable;
            times.byFile[batch.files[first + k]].store(time, std::memory_order_relaxed);
        }
        first = batch.folderEnd[folder];
    }
}

void FileTimeReader::makeTable(const ResultList& list)
{
    std::uint32_t files = 0;
    for (std::size_t row = 0; row < list.size(); ++row)
        files = std::max(files, list.row(row).pathId + 1);
    m_times = std::make_shared<Times>(files);
    for (std::atomic<std::int64_t>& time : m_times->byFile)
        time.store(kNotRead, std::memory_order_relaxed);
}

void FileTimeReader::start(const ResultList& list)
{
    forget();
    makeTable(list);
    // One row for each file.
    std::vector<char> seen(m_times->byFile.size(), 0);
    std::vector<std::size_t> rows;
    for (std::size_t row = 0; row < list.size(); ++row) {
        if (!seen[list.row(row).pathId]) {
            seen[list.row(row).pathId] = 1;
            rows.push_back(row);
        }
    }
    if (rows.empty())
        return;
    m_thread = std::thread([batch = batchOf(list, rows), times = m_times] { read(batch, *times); });
}

void FileTimeReader::forget()
{
    if (m_times)
        m_times->stop = true;
    wait();
    m_times.reset();
}

void FileTimeReader::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::optional<std::int64_t>>
FileTimeReader::timesOf(const ResultList& list, const std::vector<std::size_t>& rows)
{
    // The table covers the files of the list it was made for; a list changed behind it starts a
    // fresh one.
    const bool covered = m_times && std::all_of(rows.begin(), rows.end(), [&](std::size_t row) {
                             return list.row(row).pathId < m_times->byFile.size();
                         });
    if (!covered) {
        forget();
        makeTable(list);
    }
    std::vector<std::size_t> unread;
    for (const std::size_t row : rows) {
        if (m_times->byFile[list.row(row).pathId].load(std::memory_order_relaxed) == kNotRead)
            unread.push_back(row);
    }
    if (!unread.empty())
        read(batchOf(list, unread), *m_times);

    std::vector<std::optional<std::int64_t>> times;
    times.reserve(rows.size());
    for (const std::size_t row : rows) {
        const std::int64_t time =
            m_times->byFile[list.row(row).pathId].load(std::memory_order_relaxed);
        times.push_back(time == kUnreadable ? std::nullopt : std::optional(time));
    }
    return times;
}

} // namespace tunesift
