#include "search/scan.h"

#include "mp3/id3v1.h"
#include "mp3/mp3info.h"
#include "search/filesize.h"
#include "search/folderreads.h"
#include "search/pathops.h"
#include "search/searchrun.h"

#include <cerrno>
#include <cmath>
#include <system_error>
#include <unicode/utf8.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif
#ifdef _WIN32
#include "mp3/fileaccess.h"

#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
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

// Calls visit(name, kind) for every entry of the folder in listing order, hidden entries (names
// starting with ".") left out. Links are reported as Other: they are never followed below a
// listed folder. visit returns false to end the listing early; listFolder then returns false.
// A folder that does not exist or may not be read has no entries; running out of memory or
// descriptors throws std::system_error.
template <typename Visit>
bool listFolder(const std::string& folder, Visit visit)
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
    return completed;
#else
    const std::error_code fault = injectedFault(folder);
    DIR* dir = fault ? nullptr : ::opendir(folder.c_str());
    if (!dir) {
        throwIfOutOfResources(fault ? fault : std::error_code(errno, std::generic_category()),
                              folder);
        return true;
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
    const std::uint64_t fields[2] = {static_cast<std::uint64_t>(info.st_dev),
                                     static_cast<std::uint64_t>(info.st_ino)};
    return std::string(reinterpret_cast<const char*>(fields), sizeof fields);
#endif
}

void SetListingFaultForTesting(ListingFault fault)
{
    g_listingFault = fault;
}

bool HasMp3Extension(std::string_view name)
{
    if (name.size() < 4)
        return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && (ext[1] | 0x20) == 'm' && (ext[2] | 0x20) == 'p' && ext[3] == '3';
}

bool IsValidUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t k = 0;
    while (k < length) {
        if (bytes[k] < 0x80) {
            ++k;
            continue;
        }
        UChar32 c = 0;
        U8_NEXT(bytes, k, length, c);
        if (c < 0)
            return false;
    }
    return true;
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

bool FolderScan::ListFolder(std::size_t queueIndex, std::vector<std::string>& subfolders)
{
    const std::string folder = m_queue[queueIndex].path;
    m_queue[queueIndex].firstName = m_nameEnds.size();
    const bool completed = listFolder(folder, [&](std::string_view name, EntryKind kind) {
        if (m_host.isStopRequested())
            return false;
        if (!IsValidUtf8(name)) {
            // Such a name could not be handed on safely: say so once per entry and leave it.
            std::string text = folder;
            text.append(name);
            text.append(kSkipText);
            m_host.showMessage(text, "Skip", MessageButtons::Ok);
            return true;
        }
        if (kind == EntryKind::Folder)
            subfolders.emplace_back(name);
        else if (kind == EntryKind::File && HasMp3Extension(name)) {
            m_nameText.append(name);
            m_nameEnds.push_back(m_nameText.size());
        }
        return true;
    });
    m_queue[queueIndex].nameCount = m_nameEnds.size() - m_queue[queueIndex].firstName;
    if (m_queue[queueIndex].nameCount != 0)
        m_queue[queueIndex].identity = FolderIdentity(folder);
    return completed;
}

bool FolderScan::ListSubfolders(const std::string& folder)
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
    if (!ListFolder(m_queue.size() - 1, stack.back().subfolders))
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
        if (!ListFolder(m_queue.size() - 1, stack.back().subfolders))
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
                m_host.showMessage(kCatalogueFullText, kProductName, MessageButtons::Ok);
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

void FolderScan::readAhead(const FolderHandle& folder, std::uint32_t entry, bool withTitles)
{
    const std::string_view name = m_catalogue.name(entry);
    if (!withTitles) {
        m_catalogue.setSize(entry,
                            QueryFileSize(folder, name).value_or(Catalogue::kSizeUnreadable));
        return;
    }
    ReadOnlyFile file;
    if (!file.open(folder, name)) {
        m_catalogue.setSize(entry, Catalogue::kSizeUnreadable);
        return;
    }
    m_catalogue.setSize(entry, file.size());
    if (!file.stamp())
        return;
    // The file is open: what its rows will show is read in the same visit, and its title from
    // the analysis's read of its end.
    clsMP3Info analysis;
    analysis.SetOpenedFile(file, folder.path() + std::string(name));
    const SizeAndTagTitle read =
        ReadSizeAndTagTitle(file, m_reading.id3v2Titles, analysis.LastRecord());
    m_catalogue.setTitle(entry, ComparedTitle(read.title, read.id3v2Title), *file.stamp(),
                         {analysis.SongLength(), analysis.BitRate()});
}

void FolderScan::readPendingSizes()
{
    if (!m_reading.sizes)
        m_pendingSizes.clear();
    if (m_pendingSizes.empty())
        return;
    // Where a tag criterion is ticked too, the title is read in the same visit to the file.
    const bool withTitles = m_host.isCriterionTicked(Criterion::ExactTag) ||
                            m_host.isCriterionTicked(Criterion::SimilarTag);
    if (withTitles)
        m_catalogue.reserveTitles();
    const auto pending = [&](std::size_t k) { return m_pendingSizes[k]; };
    ForEachInFolders(m_catalogue, m_pendingSizes.size(), pending,
                     [&](const FolderHandle& folder, std::uint32_t entry) {
                         readAhead(folder, entry, withTitles);
                     });
    if (withTitles) {
        m_catalogue.packTitles();
#ifdef __GLIBC__
        ::malloc_trim(0); // the titles' own strings, as with the walk's
#endif
    }
    std::vector<std::uint32_t>().swap(m_pendingSizes);
}

bool FolderScan::ScanFolder(const std::string& folder)
{
    m_host.setProgress(0);
    if (folder.empty())
        return true;
    std::string working = folder;
    if (working.back() == kPathSeparator)
        working.pop_back();
    if (!IsValidUtf8(working)) {
        // As with a name below it: every row path must be valid UTF-8.
        m_host.showMessage(working + kSkipText, "Skip", MessageButtons::Ok);
        return true;
    }
    m_host.setCaption(std::string(kProductName) + " [Analyzing " + folder + " folder]");
    working.push_back(kPathSeparator);

    m_queue.clear();
    m_nameText.clear();
    m_nameEnds.clear();
    m_queue.push_back({working, {}, 0, 0});
    if (!ListSubfolders(working))
        return false;

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
