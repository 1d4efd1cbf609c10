#include "search/scan.h"

#include "mp3/id3v1.h"
#include "search/filesize.h"
#include "search/parallel.h"
#include "search/pathops.h"
#include "search/searchrun.h"

#include <cmath>
#include <cstdlib>
#include <unicode/utf8.h>

#ifdef _WIN32
#include <filesystem>
#include <system_error>
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

// Calls visit(name, kind) for every entry of the folder in listing order, hidden entries (names
// starting with ".") left out. Links are reported as Other: they are never followed below a
// listed folder. visit returns false to end the listing early; listFolder then returns false.
// A folder that cannot be listed has no entries.
template <typename Visit>
bool listFolder(const std::string& folder, Visit visit)
{
#ifdef _WIN32
    std::error_code error;
    std::filesystem::directory_iterator it(std::filesystem::u8path(folder), error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::u8string raw = it->path().filename().u8string();
        const std::string name(raw.begin(), raw.end());
        if (name.empty() || name[0] == '.')
            continue;
        std::error_code typeError;
        const auto status = it->symlink_status(typeError);
        EntryKind kind = EntryKind::Other;
        if (!typeError && std::filesystem::is_directory(status))
            kind = EntryKind::Folder;
        else if (!typeError && std::filesystem::is_regular_file(status))
            kind = EntryKind::File;
        if (!visit(name, kind))
            return false;
    }
    return true;
#else
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return true;
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

// The folder with links resolved and "." and ".." and repeated separators gone, ending in the
// separator; the text itself when it cannot be resolved.
std::string ResolvedFolder(const std::string& folder)
{
#ifdef _WIN32
    std::error_code error;
    const std::filesystem::path resolved =
        std::filesystem::canonical(std::filesystem::u8path(folder), error);
    if (error)
        return folder;
    const std::u8string raw = resolved.u8string();
    std::string text(raw.begin(), raw.end());
#else
    char* resolved = ::realpath(folder.c_str(), nullptr);
    if (!resolved)
        return folder;
    std::string text(resolved);
    std::free(resolved);
#endif
    if (text.empty() || text.back() != kPathSeparator)
        text.push_back(kPathSeparator);
    return text;
}

int percentOf(std::size_t done, std::size_t total)
{
    // The same double expression as the progress of the pair walk, so both round alike.
    return static_cast<int>(
        std::floor(static_cast<double>(done) / static_cast<double>(total) * 100.0));
}

} // namespace

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
    m_queue[queueIndex].firstName = m_names.size();
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
        else if (kind == EntryKind::File && HasMp3Extension(name))
            m_names.emplace_back(name);
        return true;
    });
    m_queue[queueIndex].nameCount = m_names.size() - m_queue[queueIndex].firstName;
    return completed;
}

bool FolderScan::ListSubfolders(const std::string& folder)
{
    // Pre-order walk with an explicit stack: a folder is listed to its end before any of its
    // subfolders, and deep trees cannot exhaust the call stack.
    struct Level
    {
        std::string path;
        std::string canonical;
        std::vector<std::string> subfolders;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    stack.push_back({folder, m_queue.back().canonical, {}, 0});
    if (!ListFolder(m_queue.size() - 1, stack.back().subfolders))
        return false;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.subfolders.size()) {
            stack.pop_back();
            continue;
        }
        const std::string& name = top.subfolders[top.next++];
        // Links are never followed below a listed folder, so a subfolder's resolved path is
        // its parent's with its own name added.
        std::string child = top.path + name + kPathSeparator;
        std::string canonical = top.canonical + name + kPathSeparator;
        m_queue.push_back({child, canonical, 0, 0});
        stack.push_back({std::move(child), std::move(canonical), {}, 0});
        if (!ListFolder(m_queue.size() - 1, stack.back().subfolders))
            return false;
    }
    return true;
}

void FolderScan::catalogueFolder(const QueuedFolder& folder)
{
    if (folder.nameCount == 0)
        return;
    const std::uint32_t folderId = m_catalogue.addFolder(folder.path, folder.canonical);
    for (std::size_t k = 0; k < folder.nameCount; ++k) {
        const std::string& name = m_names[folder.firstName + k];
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
    std::vector<std::string>().swap(m_names);
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
    ParallelFor(m_pendingSizes.size(), [&](std::size_t k) {
        const std::uint32_t entry = m_pendingSizes[k];
        const std::string path = m_catalogue.path(entry);
        if (!withTitles) {
            m_catalogue.setSize(entry, QueryFileSize(path).value_or(Catalogue::kSizeUnreadable));
            return;
        }
        const SizeAndTagTitle read = ReadSizeAndTagTitle(path, m_reading.id3v2Titles);
        m_catalogue.setSize(entry, read.size.value_or(Catalogue::kSizeUnreadable));
        if (read.size)
            m_catalogue.setTitle(entry, ComparedTitle(read.title, read.id3v2Title),
                                 read.modifiedNs);
    });
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
    m_host.setCaption(std::string(kProductName) + " [Analyzing " + folder + " folder]");
    working.push_back(kPathSeparator);

    m_queue.clear();
    m_names.clear();
    m_queue.push_back({working, ResolvedFolder(working), 0, 0});
    if (!ListSubfolders(working))
        return false;

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
