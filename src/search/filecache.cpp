#include "search/filecache.h"

#ifdef _WIN32
#include <filesystem>
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace tunesift {

namespace {

#ifdef _WIN32
std::int64_t fileTimeNs(LARGE_INTEGER time)
{
    // 100 ns steps since 1601, taken to nanoseconds since 1970 like the other platforms' times.
    constexpr std::int64_t k1601To1970 = 116'444'736'000'000'000;
    return (time.QuadPart - k1601To1970) * 100;
}
#else
std::int64_t nanoseconds(const timespec& time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1'000'000'000 +
           static_cast<std::int64_t>(time.tv_nsec);
}
#endif

} // namespace

std::optional<FileKey> QueryFileKey(const std::string& path)
{
#ifdef _WIN32
    // Attributes only: no read access is needed, and nothing is locked against other programs.
    const HANDLE handle = ::CreateFileW(std::filesystem::u8path(path).c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return std::nullopt;
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO basic{};
    const bool ok = ::GetFileInformationByHandle(handle, &info) &&
                    ::GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    ::CloseHandle(handle);
    if (!ok)
        return std::nullopt;
    FileKey key;
    key.device = info.dwVolumeSerialNumber;
    key.inode = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    key.size =
        static_cast<std::int64_t>((std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow);
    key.modifiedNs = fileTimeNs(basic.LastWriteTime);
    key.changedNs = fileTimeNs(basic.ChangeTime);
    return key;
#else
    struct stat info
    {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    FileKey key;
    key.device = static_cast<std::uint64_t>(info.st_dev);
    key.inode = static_cast<std::uint64_t>(info.st_ino);
    key.size = static_cast<std::int64_t>(info.st_size);
    key.modifiedNs = nanoseconds(info.st_mtim);
    key.changedNs = nanoseconds(info.st_ctim);
    return key;
#endif
}

RunFacts::RunFacts(FileCache* cache, std::size_t files) : m_cache(cache)
{
    if (m_cache)
        m_slots.resize(files);
}

FileFacts* RunFacts::of(std::uint32_t id, const std::string& path)
{
    if (!m_cache)
        return nullptr;
    Slot& slot = m_slots[id];
    if (!slot.looked) {
        slot.looked = true;
        slot.key = QueryFileKey(path);
        if (slot.key) {
            std::optional<FileFacts> found = m_cache->find(*slot.key);
            slot.hit = found.has_value();
            if (found)
                slot.facts = std::move(*found);
        }
    }
    return slot.key ? &slot.facts : nullptr;
}

std::optional<std::int64_t> RunFacts::knownSize(std::uint32_t id, const std::string& path)
{
    if (!of(id, path) || !m_slots[id].hit)
        return std::nullopt;
    return m_slots[id].key->size;
}

void RunFacts::storeRead()
{
    if (!m_cache)
        return;
    for (Slot& slot : m_slots) {
        if (slot.read && slot.key)
            m_cache->store(*slot.key, slot.facts);
        slot.read = false;
    }
    m_cache->flush();
}

} // namespace tunesift
