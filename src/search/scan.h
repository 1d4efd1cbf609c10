#pragma once

#include "search/catalogue.h"
#include "search/host.h"
#include "search/progress.h"
#include "search/readingthreads.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// What tells the folder apart from every other, however it is spelt or reached (see
// Catalogue::addFolder): its device and inode; on Windows its path with links resolved. The text
// itself where neither can be had.
std::string FolderIdentity(const std::string& folder);

// The scan of one listed folder into the catalogue. First the folder tree is walked (the folder,
// then its subfolders depth-first in pre-order, siblings in listing order), then the MP3 files of
// every walked folder are catalogued in queue order. Each folder is listed once: the walk keeps
// the MP3 names it meets for the cataloguing step.
class FolderScan
{
public:
    FolderScan(Catalogue& catalogue, SearchHost& host) : m_catalogue(catalogue), m_host(host) {}

    // False when the stop flag ended the scan.
    bool scanFolder(const std::string& folder);

    // What the scan reads of the files whose sizes it asks for: their titles too when a tag
    // criterion is ticked (with ID3v2 titles when asked). A run with a cache leaves all reading
    // to the criteria, which ask the cache first.
    struct Reading
    {
        bool sizes = true;
        bool id3v2Titles = false;
    };
    void setReading(Reading reading) { m_reading = reading; }
    // Where the scan counts the files and folders it finds and the files it reads; none counts
    // nothing.
    void setMeter(ProgressMeter* meter) { m_meter = meter; }

    // True once the catalogue ran full in this run (the user has been told).
    bool catalogueFull() const { return m_fullReported; }

private:
    struct QueuedFolder
    {
        std::string path;     // ends in the separator
        std::string identity; // see Catalogue::addFolder; set where the folder holds MP3 names
        std::size_t firstName = 0;
        std::size_t nameCount = 0;
    };

    // Appends every folder below folder to the queue; false on stop.
    bool listSubfolders(const std::string& folder);
    // Lists one folder: its subfolder names (returned) and its MP3 names (kept for the queue
    // item). False on stop.
    bool listQueuedFolder(std::size_t queueIndex, std::vector<std::string>& subfolders);
    void catalogueFolder(const QueuedFolder& folder);
    std::string_view walkName(std::size_t k) const
    {
        const std::size_t start = k == 0 ? 0 : m_nameEnds[k - 1];
        return std::string_view(m_nameText).substr(start, m_nameEnds[k] - start);
    }
    void releaseWalk();
    // An OK message, the work line brought up to date first.
    void showMessage(const std::string& text, const char* title);
    void readPendingSizes();

    // What the scan reads of a file: its size and, with titles, its title and the columns of its
    // rows, with the file's stamp; or only its stamp.
    struct FileRead
    {
        std::int64_t size = Catalogue::kSizeNotRead;
        std::optional<FileStamp> stamp;
        std::string title;
        RowColumns columns;
        bool titled = false;
    };
    FileRead readFile(const FolderHandle& folder, std::string_view name, bool withTitles) const;
    void keepRead(std::uint32_t entry, FileRead&& read, bool withTitles);

    // Where files answer slowly (every request a round trip to a distant share), a folder's files
    // are read (or, with a cache, only examined) as soon as the folder is listed, relative to the
    // folder as the listing opened it, while the system still holds what the listing told of
    // them; the walk goes on meanwhile. Elsewhere they are read when the scan ends.
    enum class ListingReads
    {
        None,
        Stamps,
        Files
    };
    bool listingsAreSlow() const;
    bool keepsListedFolders() const;
    void readWhileListing(const std::string& folder, int descriptor, std::size_t firstName,
                          std::size_t count);
    FileRead* listedRead(std::size_t walkIndex) const;
    void takeListedStamps();
    void dropListingReads();

    Catalogue& m_catalogue;
    SearchHost& m_host;
    std::vector<QueuedFolder> m_queue;
    // The MP3 names the walk met, one after another, and where each ends: a million names
    // cost their bytes rather than a string each.
    std::string m_nameText;
    std::vector<std::size_t> m_nameEnds;
    std::vector<std::uint32_t> m_pendingSizes; // entries whose size the scan still has to read
    bool m_fullReported = false;
    Reading m_reading;

    bool m_distant = false; // the listed folder lies on a file system reached over a network
    ListingReads m_listingReads = ListingReads::None;
    bool m_listingTitles = false;
    std::unique_ptr<ReadingThreads> m_readers;
    // By walk index (the position of the name in m_nameEnds), in chunks that never move, so that
    // the reading threads fill them while the walk goes on.
    static constexpr std::size_t kReadsPerChunk = 4096;
    std::vector<std::unique_ptr<FileRead[]>> m_listedReads;
    std::size_t m_walkBase = 0; // the catalogue's count when the walk began
    // What the listings of this scan waited for, beyond their time on a core.
    std::int64_t m_listingWaitNs = 0;
    std::size_t m_listings = 0;
    bool m_skipShown = false; // the listing under way showed a message

    ProgressMeter* m_meter = nullptr;
    // Found so far by this scan, over all the folders it was given.
    std::uint64_t m_filesFound = 0;
    std::uint64_t m_foldersFound = 0;
};

// The MP3 file names of a folder, in listing order (hidden names, links and names that are not
// valid UTF-8 left out).
std::vector<std::string> ListFiles(const std::string& folder);

// A seam for the tests: where set, it is asked before each folder is listed, and a non-zero
// answer fails the listing with that errno, as the system would.
using ListingFault = int (*)(const std::string& folder);
void SetListingFaultForTesting(ListingFault fault);
// A seam for the tests: where set, every folder is taken to lie on a file system reached over a
// network (see Catalogue::filesAreDistant).
void SetDistantFilesForTesting(bool distant);

// True for a name ending in ".mp3" in any letter case.
bool HasMp3Extension(std::string_view name);

} // namespace tunesift
