// The MP3 engine's costs beside a bare read of the same bytes: the quick title read against one
// positioned 128-byte read, the analysis of a typical file against the reads it needs, and the
// analysis of files without a usable frame against a plain block-wise read of the whole file.

#include "mp3/id3v1.h"
#include "mp3/mp3analysis.h"

#include <array>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr std::size_t kAudioSize = 4 * 1024 * 1024;

class BenchFiles
{
public:
    BenchFiles()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tunesift-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::exit(1);
        }
        m_dir = pattern;
        writeTypical();
        writeFilled("nosync.mp3", [](std::size_t i) {
            return static_cast<unsigned char>(i * 7 % 0x49); // neither 0xFF nor 'I'
        });
        writeFilled("allsync.mp3", [](std::size_t) { return static_cast<unsigned char>(0xFF); });
    }
    ~BenchFiles()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_dir, ignored);
    }
    BenchFiles(const BenchFiles&) = delete;
    BenchFiles& operator=(const BenchFiles&) = delete;

    std::string path(const char* name) const { return (m_dir / name).string(); }

private:
    // A 2 KiB ID3v2 tag, 128 kbit/s frames of 417 bytes, an ID3v1 tag.
    void writeTypical()
    {
        std::vector<unsigned char> bytes{'I', 'D', '3', 3, 0, 0, 0, 0, 15, 118}; // 2038 + 10
        bytes.resize(2048, 0);
        while (bytes.size() < 2048 + kAudioSize) {
            const std::size_t frame = bytes.size();
            bytes.resize(frame + 417, 0x55);
            bytes[frame] = 0xFF;
            bytes[frame + 1] = 0xFB;
            bytes[frame + 2] = 0x90;
            bytes[frame + 3] = 0x64;
        }
        const std::string tag = "TAGA typical title";
        const std::size_t at = bytes.size();
        bytes.resize(at + 128, 0);
        std::copy(tag.begin(), tag.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at));
        write("typical.mp3", bytes);
    }

    template <typename Fill>
    void writeFilled(const char* name, Fill fill)
    {
        std::vector<unsigned char> bytes(kAudioSize);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = fill(i);
        }
        write(name, bytes);
    }

    void write(const char* name, const std::vector<unsigned char>& bytes)
    {
        std::ofstream out(m_dir / name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
    }

    std::filesystem::path m_dir;
};

const BenchFiles& files()
{
    static const BenchFiles instance;
    return instance;
}

int openOrDie(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    return fd;
}

off_t sizeOf(int fd)
{
    struct stat status = {};
    ::fstat(fd, &status);
    return status.st_size;
}

void BM_ReadTagTitle(benchmark::State& state)
{
    const std::string path = files().path("typical.mp3");
    for (auto _ : state) {
        benchmark::DoNotOptimize(tunesift::ReadTagTitle(path));
    }
}
BENCHMARK(BM_ReadTagTitle);

// Open, one positioned read of the last 128 bytes, close.
void BM_BareTagRead(benchmark::State& state)
{
    const std::string path = files().path("typical.mp3");
    std::array<unsigned char, 128> tag{};
    for (auto _ : state) {
        const int fd = openOrDie(path);
        benchmark::DoNotOptimize(::pread(fd, tag.data(), tag.size(), sizeOf(fd) - 128));
        ::close(fd);
        benchmark::DoNotOptimize(tag);
    }
}
BENCHMARK(BM_BareTagRead);

// What the search does per result row.
void BM_AnalyseTypical(benchmark::State& state)
{
    const std::string path = files().path("typical.mp3");
    tunesift::Mp3Analysis info;
    for (auto _ : state) {
        info.analyse(path);
        benchmark::DoNotOptimize(info.formattedSongLength());
        benchmark::DoNotOptimize(info.bitRate());
    }
}
BENCHMARK(BM_AnalyseTypical);

// The bytes the analysis of that file reads: the last 138 and the first 4 KiB.
void BM_BareTypicalRead(benchmark::State& state)
{
    const std::string path = files().path("typical.mp3");
    std::vector<unsigned char> head(4096);
    std::array<unsigned char, 138> tail{};
    for (auto _ : state) {
        const int fd = openOrDie(path);
        benchmark::DoNotOptimize(::pread(fd, tail.data(), tail.size(), sizeOf(fd) - 138));
        benchmark::DoNotOptimize(::pread(fd, head.data(), head.size(), 0));
        ::close(fd);
        benchmark::DoNotOptimize(head.data());
    }
}
BENCHMARK(BM_BareTypicalRead);

void analyseWhole(benchmark::State& state, const char* name)
{
    const std::string path = files().path(name);
    tunesift::Mp3Analysis info;
    for (auto _ : state) {
        info.analyse(path);
        benchmark::DoNotOptimize(info.isValidMp3());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kAudioSize));
}

void BM_AnalyseNoSync(benchmark::State& state)
{
    analyseWhole(state, "nosync.mp3");
}
BENCHMARK(BM_AnalyseNoSync)->Unit(benchmark::kMillisecond);

// Every offset a frame-sync candidate that fails to decode.
void BM_AnalyseAllSync(benchmark::State& state)
{
    analyseWhole(state, "allsync.mp3");
}
BENCHMARK(BM_AnalyseAllSync)->Unit(benchmark::kMillisecond);

// Open and read the whole file in 64 KiB blocks: the floor for any search through all of it.
void BM_BareWholeRead(benchmark::State& state)
{
    const std::string path = files().path("nosync.mp3");
    std::vector<unsigned char> block(64 * 1024);
    for (auto _ : state) {
        const int fd = openOrDie(path);
        off_t offset = 0;
        ssize_t got = 0;
        while ((got = ::pread(fd, block.data(), block.size(), offset)) > 0) {
            offset += got;
            benchmark::DoNotOptimize(block.data());
        }
        ::close(fd);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(kAudioSize));
}
BENCHMARK(BM_BareWholeRead)->Unit(benchmark::kMillisecond);

} // namespace
