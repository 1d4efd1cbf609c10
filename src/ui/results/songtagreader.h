#pragma once

#include "mp3/songtags.h"
#include "search/resultlist.h"

#include <QObject>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace tunesift {

// The song tags of a result list's files, by file (the rows' pathId), read on a thread of their
// own through the song tags cache and handed to the window's thread in batches. The thread works
// on a copy of the paths, never on the list itself.
class SongTagReader : public QObject
{
    Q_OBJECT
public:
    explicit SongTagReader(QObject* parent = nullptr);
    ~SongTagReader() override;

    // Forgets what was read before and starts reading the tags of the list's files, each once,
    // in the order of their first rows.
    void start(const ResultList& list);
    // Stops the reading and forgets every tag (a new search reads them anew).
    void forget();
    bool started() const { return m_stop != nullptr; }
    bool reading() const { return m_reading; }

    // The file's tags once read; nullptr before, and for a file that cannot be read.
    const SongTags* tagsOf(std::uint32_t pathId) const;

signals:
    // More tags are known.
    void tagsRead();
    // Every file of the list has been read.
    void finished();

private:
    struct Read
    {
        std::uint32_t pathId = 0;
        std::optional<SongTags> tags;
    };
    void take(std::uint64_t generation, const std::vector<Read>& batch, bool last);

    std::vector<std::optional<SongTags>> m_byFile;
    std::shared_ptr<std::atomic<bool>> m_stop;
    std::thread m_thread;
    std::uint64_t m_generation = 0;
    bool m_reading = false;
};

} // namespace tunesift
