#include "search/scan.h"

#include "files/pathops.h"
#include "search/filefacts.h"
#include "search/folderreads.h"
#include "search/searchrun.h"
#include "text/utf8.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <memory>
#include <system_error>

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef _WIN32
#include "files/fileaccess.h"

#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#endif

namespace tunesift {

namespace {

enum class EntryKind
{
    Folder,
    File,
    Other
};

const char* const kSkipText =
    " has been skipped because it is unrecognizeable. This is probably because it contains "
    "strange characters. Please rename the file or folder if you would like it included next "
    "time you find dupes.";

const char* const kCatalogueFullText =
    "Tunesift can compare at most 1,000,001 files in one search. The files found beyond that "
    "number are left out of this search; the search goes on with the files found so far.";

ListingFault g_listingFault = nullptr;
bool g_distantForTesting = false;

#ifndef _WIN32
std::string IdentityOf(const struct stat& info)
{
    const std::uint64_t fields[2] = {static_cast<std::uint64_t>(info.st_dev),
                                     static_cast<std::uint64_t>(info.st_ino)};
    return std::string(reinterpret_cast<const char*>(fields), sizeof fields);
}
#endif

// The error the seam injects for the folder; none where it is not set.
std::error_code injectedFault(const std::string& folder)
{
    const int fault = g_listingFault ? g_listingFault(folder) : 0;
    return fault == 0 ? std::error_code() : std::error_code(fault, std::generic_category());
}

// A folder that cannot be listed because the process ran out of memory or descriptors is no
// empty folder: the run cannot go on as if it were.
void throwIfOutOfResources(const std::error_code& error, const std::string& folder)
{
    if (error == std::errc::not_enough_memory || error == std::errc::too_many_files_open ||
        error == std::errc::too_many_files_open_in_system)
        throw std::system_error(error, "cannot list " + folder);
}

// What a listing tells of the folder itself: its identity (see FolderIdentity), and where asked
// for, a descriptor of the folder as the listing opened it (negative where there is none).
struct ListedFolder
{
    bool keepDescriptor = false;
    int descriptor = -1;
    std::string identity;
};

// Calls visit(name, kind) for every entry of the folder in listing order, hidden entries (names
// starting with ".") left out. Links are reported as Other: they are never followed below a
// listed folder. visit returns false to end the listing early; listFolder then returns false.
// A folder that does not exist or may not be read has no entries; running out of memory or
// descriptors throws std::system_error.
template <typename Visit>
bool listFolder(const std::string& folder, Visit visit, ListedFolder* listed = nullptr)
{
#ifdef _WIN32
    const std::error_code fault = injectedFault(folder);
    const std::wstring wide = fault ? std::wstring() : WidePath(folder);
    WIN32_FIND_DATAW entry{};
    const HANDLE find =
        wide.empty() ? INVALID_HANDLE_VALUE
                     : FindFirstFileExW((wide + (wide.ends_with(L'\\') ? L"*" : L"\\*")).c_str(),
                                        FindExInfoBasic, &entry, FindExSearchNameMatch, nullptr,
                                        FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        throwIfOutOfResources(
            fault ? fault
                  : std::error_code(static_cast<int>(GetLastError()), std::system_category()),
            folder);
        return true;
    }
    bool completed = true;
    do {
        const std::string name = Utf8Path(entry.cFileName);
        if (name.empty() || name[0] == '.')
            continue;
        // A reparse point (link or junction) is never followed, like a symbolic link elsewhere.
        const DWORD attributes = entry.dwFileAttributes;
        EntryKind kind = EntryKind::Other;
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY)
                kind = EntryKind::Folder;
            else if (!(attributes & FILE_ATTRIBUTE_DEVICE))
                kind = EntryKind::File;
        }
        if (!visit(std::string_view(name), kind)) {
            completed = false;
            break;
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    if (listed)
        listed->identity = FolderIdentity(folder);
    return completed;
#else
    const std::error_code fault = injectedFault(folder);
    int fd = -1;
    if (!fault) {
        do {
            fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
    }
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        const int error = fault ? fault.value() : errno;
        if (fd >= 0)
            ::close(fd);
        throwIfOutOfResources(std::error_code(error, std::generic_category()), folder);
        return true;
    }
    if (listed) {
        // The folder as opened tells what it is: no second walk of its path.
        struct stat info
        {};
        if (::fstat(fd, &info) == 0)
            listed->identity = IdentityOf(info);
        else
            listed->identity = folder;
        if (listed->keepDescriptor)
            listed->descriptor = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    }
    bool completed = true;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.')
            continue;
        EntryKind kind = EntryKind::Other;
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info
            {};
            if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
                if (S_ISDIR(info.st_mode))
                    type = DT_DIR;
                else if (S_ISREG(info.st_mode))
                    type = DT_REG;
            }
        }
        if (type == DT_DIR)
            kind = EntryKind::Folder;
        else if (type == DT_REG)
            kind = EntryKind::File;
        if (!visit(std::string_view(name), kind)) {
            completed = false;
            break;
        }
    }
    ::closedir(dir);
    return completed;
#endif
}

int percentOf(std::size_t done, std::size_t total)
{
    // The same double expression as the progress of the pair walk, so both round alike.
    return static_cast<int>(
        std::floor(static_cast<double>(done) / static_cast<double>(total) * 100.0));
}

// True for a folder on a file system reached over a network, or through a user-space file system
// (which may be one).
bool IsDistantFolder(const std::string& folder)
{
#if defined(_WIN32)
    if (folder.starts_with("\\\\"))
        return true; // a share's own path
    const std::wstring wide = WidePath(folder);
    if (wide.size() < 2 || wide[1] != L':')
        return false;
    const wchar_t root[] = {wide[0], L':', L'\\', L'\0'};
    return GetDriveTypeW(root) == DRIVE_REMOTE;
#elif defined(__linux__)
    struct statfs info
    {};
    if (::statfs(folder.c_str(), &info) != 0)
        return false;
    switch (static_cast<std::uint32_t>(info.f_type)) {
    case 0x6969u:     // NFS
    case 0x517Bu:     // SMB
    case 0xFE534D42u: // SMB2
    case 0xFF534D42u: // CIFS
    case 0x65735546u: // FUSE
    case 0x01021997u: // 9P
    case 0x5346414Fu: // AFS
    case 0x00C36400u: // Ceph
    case 0x73757245u: // Coda
    case 0x564Cu:     // NCP
        return true;
    default:
        return false;
    }
#else
    (void)folder;
    return false;
#endif
}

void CloseDescriptor([[maybe_unused]] int descriptor)
{
#ifndef _WIN32
    ::close(descriptor);
#endif
}

} // namespace

std::string FolderIdentity(const std::string& folder)
{
#ifdef _WIN32
    const std::wstring resolved = FinalWidePath(folder);
    if (resolved.empty())
        return folder;
    std::string text = Utf8Path(resolved);
    if (text.empty() || text.back() != kPathSeparator)
        text.push_back(kPathSeparator);
    return text;
#else
    struct stat info
    {};
    if (::stat(folder.c_str(), &info) != 0)
        return folder;
    return IdentityOf(info);
#endif
}

void SetListingFaultForTesting(ListingFault fault)
{
    g_listingFault = fault;
}

void SetDistantFilesForTesting(bool distant)
{
    g_distantForTesting = distant;
}

bool HasMp3Extension(std::string_view name)
{
    if (name.size() < 4)
        return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'm' && (ext[2] | 0x20) == 'p' && ext[3] == '3';
}

std::vector<std::string> ListFiles(const std::string& folder)
{
    std::vector<std::string> names;
    listFolder(folder, [&](std::string_view name, EntryKind kind) {
        if (kind == EntryKind::File && HasMp3Extension(name) && IsValidUtf8(name))
            names.emplace_back(name);
        return true;
    });
    return names;
}

bool FolderScan::listQueuedFolder(std::size_t queueIndex, std::vector<std::string>& subfolders)
{
    const std::string folder = m_queue[queueIndex].path;
    m_queue[queueIndex].firstName = m_nameEnds.size();
    ListedFolder listed;
    listed.keepDescriptor = keepsListedFolders();
    const std::int64_t wallStart = MonotonicTimeNs();
    const std::int64_t cpuStart = ThreadCpuTimeNs();
    const bool completed = listFolder(
        folder,
        [&](std::string_view name, EntryKind kind) {
            if (m_host.isStopRequested())
                return false;
            if (!IsValidUtf8(name)) {
                // Such a name could not be handed on safely: say so once per entry and leave it.
                std::string text = folder;
                text.append(name);
                text.append(kSkipText);
                showMessage(text, "Skip");
                m_skipShown = true;
                return true;
            }
            if (kind == EntryKind::Folder)
                subfolders.emplace_back(name);
            else if (kind == EntryKind::File && HasMp3Extension(name)) {
                m_nameText.append(name);
                m_nameEnds.push_back(m_nameText.size());
            }
            return true;
        },
        &listed);
    // The messages a listing may show wait for the user, not for the files: only a listing
    // that showed none is measured.
    const std::int64_t wall = MonotonicTimeNs() - wallStart;
    const std::int64_t cpu = ThreadCpuTimeNs() - cpuStart;
    QueuedFolder& queued = m_queue[queueIndex];
    queued.nameCount = m_nameEnds.size() - queued.firstName;
    if (m_meter) {
        m_filesFound += queued.nameCount;
        m_meter->scanned(m_filesFound, ++m_foldersFound);
    }
    if (queued.nameCount != 0)
        queued.identity = std::move(listed.identity);
    if (!m_skipShown) {
        m_listingWaitNs += std::max<std::int64_t>(0, wall - cpu);
        ++m_listings;
    }
    m_skipShown = false;
    if (listed.descriptor >= 0) {
        if (completed && queued.nameCount != 0)
            readWhileListing(folder, listed.descriptor, queued.firstName, queued.nameCount);
        else
            CloseDescriptor(listed.descriptor);
    }
    return completed;
}

bool FolderScan::listSubfolders(const std::string& folder)
{
    // Pre-order walk with an explicit stack: a folder is listed to its end before any of its
    // subfolders, and deep trees cannot exhaust the call stack.
    struct Level
    {
        std::string path;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    stack.push_back({folder, {}, 0});
    if (!listQueuedFolder(m_queue.size() - 1, stack.back().subfolders))
        return false;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
            continue;
        }
        const std::string& name = top.subfolders[top.next++];
        std::string child = top.path + name + kPathSeparator;
        m_queue.push_back({child, {}, 0, 0});
        stack.push_back({std::move(child), {}, 0});
        if (!listQueuedFolder(m_queue.size() - 1, stack.back().subfolders))
            return false;
    }
    return true;
}

void FolderScan::catalogueFolder(const QueuedFolder& folder)
{
    if (folder.nameCount == 0)
        return;
    const std::uint32_t folderId = m_catalogue.addFolder(folder.path, folder.identity);
    for (std::size_t k = 0; k < folder.nameCount; ++k) {
        const std::string_view name = walkName(folder.firstName + k);
        if (m_catalogue.full()) {
            if (!m_fullReported) {
                m_fullReported = true;
                showMessage(kCatalogueFullText, kProductName);
            }
            return;
        }
        // The box is read per file; the sizes are read together when the scan ends.
        if (m_host.isCriterionTicked(Criterion::ExactFilesize))
            m_pendingSizes.push_back(static_cast<std::uint32_t>(m_catalogue.count()));
        m_catalogue.append(folderId, name, Catalogue::kSizeNotRead);
    }
}

void FolderScan::releaseWalk()
{
    // The names now live in the catalogue; the next listed folder starts afresh.
    std::vector<QueuedFolder>().swap(m_queue);
    std::string().swap(m_nameText);
    std::vector<std::size_t>().swap(m_nameEnds);
#ifdef __GLIBC__
    // The walk's many small folder strings were just freed; hand their pages back, or the
    // passes' large tables come on top of them.
    ::malloc_trim(0);
#endif
}

FolderScan::FileRead FolderScan::readFile(const FolderHandle& folder, std::string_view name,
                                          bool withTitles) const
{
    // The file is open anyway: what its rows will show and its title are read in the same visit.
    const ReadFacts facts =
        ReadFileFacts(folder, name, {.size = true, .title = withTitles, .rowColumns = withTitles},
                      m_reading.id3v2Titles);
    FileRead read;
    read.size = facts.size.value_or(Catalogue::kSizeUnreadable);
    if (facts.stamp) {
        read.stamp = *facts.stamp;
        read.title = ComparedTitleOf(facts.facts, m_reading.id3v2Titles).value_or(std::string());
        read.columns = {facts.facts.songLength, facts.facts.bitRate};
        read.titled = true;
    }
    return read;
}

void FolderScan::keepRead(std::uint32_t entry, FileRead&& read, bool withTitles)
{
    m_catalogue.setSize(entry, read.size);
    if (withTitles && read.titled)
        m_catalogue.setTitle(entry, std::move(read.title), *read.stamp, read.columns);
}

bool FolderScan::listingsAreSlow() const
{
    // A listing of a folder on a local disk waits some microseconds, if at all; one of a share
    // waits a round trip for each of its requests (open, one or more reads of entries).
    constexpr std::int64_t kSlowListingNs = 300'000;
    return m_listings != 0 &&
           m_listingWaitNs / static_cast<std::int64_t>(m_listings) >= kSlowListingNs;
}

bool FolderScan::keepsListedFolders() const
{
    switch (m_listingReads) {
    case ListingReads::None:
        return false;
    case ListingReads::Stamps:
        return m_distant;
    case ListingReads::Files:
        return m_distant || listingsAreSlow();
    }
    return false;
}

FolderScan::FileRead* FolderScan::listedRead(std::size_t walkIndex) const
{
    const std::size_t chunk = walkIndex / kReadsPerChunk;
    if (chunk >= m_listedReads.size() || !m_listedReads[chunk])
        return nullptr;
    return &m_listedReads[chunk][walkIndex % kReadsPerChunk];
}

void FolderScan::readWhileListing(const std::string& folder, int descriptor, std::size_t firstName,
                                  std::size_t count)
{
#ifdef _WIN32
    (void)descriptor;
    auto handle = std::make_shared<const FolderHandle>(folder);
#else
    auto handle = std::make_shared<const FolderHandle>(folder, descriptor);
#endif
    // Names the catalogue will not take are not read.
    const std::size_t room = Catalogue::kCapacity - std::min(Catalogue::kCapacity, m_walkBase);
    const std::size_t end = std::min(firstName + count, room);
    if (firstName >= end)
        return;
    if (!m_readers) {
        m_readers = std::make_unique<ReadingThreads>();
        // The table of chunks never grows while the threads look into it.
        m_listedReads.resize((Catalogue::kCapacity + kReadsPerChunk - 1) / kReadsPerChunk);
    }
    // Each job holds its folder open: where the reads fall behind the walk, the walk waits, so
    // that the folders held stay few.
    constexpr std::size_t kJobsAhead = 256;
    m_readers->waitUntilFewerThan(kJobsAhead);
    for (std::size_t k = firstName / kReadsPerChunk; k <= (end - 1) / kReadsPerChunk; ++k) {
        if (!m_listedReads[k])
            m_listedReads[k] = std::make_unique<FileRead[]>(kReadsPerChunk);
    }
    // Each piece waits for its files one after another: short pieces keep a large folder's
    // files on many threads at once. Stamps of names the listing has just described cost the
    // share nothing.
    const bool files = m_listingReads == ListingReads::Files;
    const std::size_t piece = files ? 4 : 256;
    for (std::size_t first = firstName; first < end; first += piece) {
        const std::size_t last = std::min(end, first + piece);
        std::vector<std::string> names;
        names.reserve(last - first);
        for (std::size_t k = first; k < last; ++k)
            names.emplace_back(walkName(k));
        m_readers->post([this, handle, first, files, names = std::move(names)] {
            for (std::size_t k = 0; k < names.size(); ++k) {
                FileRead& read = *listedRead(first + k);
                if (files)
                    read = readFile(*handle, names[k], m_listingTitles);
                else
                    read.stamp = QueryFileStamp(*handle, names[k]);
            }
        });
    }
}

void FolderScan::dropListingReads()
{
    if (m_readers) {
        m_readers->cancel();
        m_readers->wait();
        m_readers.reset();
    }
    std::vector<std::unique_ptr<FileRead[]>>().swap(m_listedReads);
}

void FolderScan::takeListedStamps()
{
    for (std::size_t entry = m_walkBase; entry < m_catalogue.count(); ++entry) {
        const FileRead* read = listedRead(entry - m_walkBase);
        if (read && read->stamp)
            m_catalogue.setListedStamp(entry, *read->stamp);
    }
}

void FolderScan::readPendingSizes()
{
    if (m_readers)
        m_readers->wait();
    if (m_listingReads == ListingReads::Stamps)
        takeListedStamps();
    if (!m_reading.sizes)
        m_pendingSizes.clear();
    if (m_pendingSizes.empty()) {
        dropListingReads();
        return;
    }
    // Where a tag criterion is ticked too, the title is read in the same visit to the file.
    const bool withTitles = m_host.isCriterionTicked(Criterion::ExactTag) ||
                            m_host.isCriterionTicked(Criterion::SimilarTag);
    if (withTitles)
        m_catalogue.reserveTitles();
    if (m_meter)
        m_meter->begin(WorkPhase::Reading, m_pendingSizes.size());
    // What was read while the folders were listed is kept; the rest is read now.
    std::vector<std::uint32_t> unread;
    for (const std::uint32_t entry : m_pendingSizes) {
        FileRead* read = listedRead(entry - m_walkBase);
        if (read && read->size != Catalogue::kSizeNotRead && (read->titled || !withTitles)) {
            keepRead(entry, std::move(*read), withTitles);
            if (m_meter)
                m_meter->add();
        } else {
            unread.push_back(entry);
        }
        if (read)
            *read = FileRead();
    }
    dropListingReads();
    const auto pending = [&](std::size_t k) { return unread[k]; };
    // A stop leaves sizes unread: the run ends at its next check point.
    StopSignal stop([this] { return m_host.isStopRequested(); });
    ForEachInFolders(
        m_catalogue, unread.size(), pending,
        [&](const FolderHandle& folder, std::uint32_t entry) {
            keepRead(entry, readFile(folder, m_catalogue.name(entry), withTitles), withTitles);
            if (m_meter)
                m_meter->add();
        },
        WorkKind::SystemCalls, &stop);
    if (withTitles) {
        m_catalogue.packTitles();
#ifdef __GLIBC__
        ::malloc_trim(0); // the titles' own strings, as with the walk's
#endif
    }
    std::vector<std::uint32_t>().swap(m_pendingSizes);
}

void FolderScan::showMessage(const std::string& text, const char* title)
{
    // The user reads the work line while the message waits: it shows the counts as they are.
    if (m_meter)
        m_meter->showNow();
    m_host.showMessage(text, title, MessageButtons::Ok);
}

bool FolderScan::scanFolder(const std::string& folder)
{
    m_host.setProgress(0);
    if (folder.empty())
        return true;
    std::string working = folder;
    if (working.back() == kPathSeparator)
        working.pop_back();
    if (!IsValidUtf8(working)) {
        // As with a name below it: every row path must be valid UTF-8.
        showMessage(working + kSkipText, "Skip");
        return true;
    }
    m_host.setCaption(std::string(kProductName) + " [Analyzing " + folder + " folder]");
    working.push_back(kPathSeparator);

    m_queue.clear();
    m_nameText.clear();
    m_nameEnds.clear();
    m_queue.push_back({working, {}, 0, 0});
    m_walkBase = m_catalogue.count();
    m_listingWaitNs = 0;
    m_listings = 0;
    m_distant = g_distantForTesting || IsDistantFolder(working);
    // Without a cache the files whose sizes are asked for are read; with one, the criteria ask
    // the cache with the stamps of distant files taken here.
    if (!m_reading.sizes)
        m_listingReads = m_distant ? ListingReads::Stamps : ListingReads::None;
    else if (m_host.isCriterionTicked(Criterion::ExactFilesize))
        m_listingReads = ListingReads::Files;
    else
        m_listingReads = ListingReads::None;
    m_listingTitles =
        m_listingReads == ListingReads::Files && (m_host.isCriterionTicked(Criterion::ExactTag) ||
                                                  m_host.isCriterionTicked(Criterion::SimilarTag));
    m_catalogue.setFilesAreDistant(m_catalogue.filesAreDistant() || m_distant);
    if (!listSubfolders(working)) {
        dropListingReads();
        return false;
    }

    // The catalogue takes the names at their size rather than growing by doubling.
    m_catalogue.reserve(m_nameEnds.size(), m_nameText.size());
    const std::size_t total = m_queue.size();
    for (std::size_t done = 0; done < total; ++done) {
        if (m_host.isStopRequested()) {
            releaseWalk();
            readPendingSizes();
            return false;
        }
        m_host.setProgress(percentOf(done, total));
        catalogueFolder(m_queue[done]);
    }
    releaseWalk();
    readPendingSizes();
    m_host.setProgress(100);
    m_host.setCaption(kProductName);
    return true;
}

} // namespace tunesift
