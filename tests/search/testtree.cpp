#include "search/testtree.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#ifdef _WIN32
#include <random>
#else
#include <unistd.h>
#endif

namespace tunesift::test {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void fail(const std::string& what, const std::string& path)
{
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void makeParents(const std::string& path)
{
    const fs::path parent = fs::u8path(path).parent_path();
    if (!parent.empty())
        fs::create_directories(parent);
}

} // namespace

TempDir::TempDir(Storage storage)
{
#ifdef _WIN32
    (void)storage;
    std::random_device seed;
    for (;;) {
        const fs::path candidate =
            fs::temp_directory_path() / ("tunesift-test-" + std::to_string(seed()));
        if (fs::create_directory(candidate)) {
            const std::u8string raw = candidate.u8string();
            m_path.assign(raw.begin(), raw.end());
            break;
        }
    }
#else
    fs::path base = fs::temp_directory_path();
    if (storage == Storage::Memory && ::access("/dev/shm", W_OK) == 0)
        base = "/dev/shm";
    std::string pattern = (base / "tunesift-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        fail("mkdtemp", pattern);
    m_path = pattern;
#endif
}

TempDir::~TempDir()
{
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

std::string TempDir::operator/(std::string_view relative) const
{
    return m_path + "/" + std::string(relative);
}

void TempDir::clear() const
{
    for (const auto& entry : fs::directory_iterator(m_path))
        fs::remove_all(entry.path());
}

std::string TitleField(std::string_view latin1, char pad)
{
    std::string field(latin1.substr(0, 30));
    field.resize(30, pad);
    return field;
}

void WriteBytes(const std::string& path, std::string_view bytes)
{
    makeParents(path);
    std::ofstream file(fs::u8path(path), std::ios::binary | std::ios::trunc);
    if (!file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !file.flush())
        fail("write", path);
}

void WriteMp3File(const std::string& path, const Mp3Content& content)
{
    std::string bytes(content.bodyBytes, '\x55');
    if (content.frameHeaderTail && bytes.size() >= 4) {
        bytes[0] = '\xFF';
        bytes[1] = static_cast<char>((*content.frameHeaderTail >> 16) & 0xFF);
        bytes[2] = static_cast<char>((*content.frameHeaderTail >> 8) & 0xFF);
        bytes[3] = static_cast<char>(*content.frameHeaderTail & 0xFF);
    }
    bytes = content.prefix + bytes + content.trailer;
    if (content.rawTitle) {
        std::string tag = "TAG" + TitleField(*content.rawTitle, '\0');
        tag.resize(128, '\0');
        bytes += tag;
    }
    WriteBytes(path, bytes);
}

void WriteSparseMp3File(const std::string& path, std::uint64_t length)
{
    WriteBytes(path, std::string_view("\xFF\xFB\x90\x00", 4));
    fs::resize_file(fs::u8path(path), length);
}

void MakeFolder(const std::string& path)
{
    fs::create_directories(path);
}

void MakeSymlink(const std::string& target, const std::string& linkPath)
{
    makeParents(linkPath);
    fs::create_symlink(fs::u8path(target), fs::u8path(linkPath));
}

void RemovePath(const std::string& path)
{
    std::error_code ec;
    fs::remove_all(path, ec);
}

} // namespace tunesift::test
