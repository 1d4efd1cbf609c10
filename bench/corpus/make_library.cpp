// Makes a synthetic music library for the benchmarks, in stages:
//   sparselibrary  the folders and names of a collection with its duplicates and clutter
//     librarynames   the made-up words, titles' variants and the tag's Latin-1
//     mp3bytes       each file's head and tail, written around a hole
//   denselibrary   or (--dense) a library of real frames with every byte written
// and, last, the manifest that names the library, so that an unfinished one is never taken as
// complete. The same seed gives the same library.

#include "denselibrary.h"
#include "sparselibrary.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift::corpus {
namespace {

namespace fs = std::filesystem;

constexpr int kFormatVersion = 1;
constexpr const char* kManifestName = ".tunesift-library";

void usage(std::FILE* to)
{
    std::fprintf(to, "usage: make_library [--seed S] [--force] [--dense] N DIR\n"
                     "Makes a synthetic library of N visible MP3 files below DIR (which must be\n"
                     "empty or a library this tool made; --force replaces another library).\n"
                     "--dense writes every byte: real frames, 0.3-1 MB, with copies and\n"
                     "retagged copies.\n");
}

std::optional<std::uint64_t> parseNumber(const char* text)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::string manifestText(std::uint64_t files, std::uint64_t seed, bool dense)
{
    return "version=" + std::to_string(kFormatVersion) + " files=" + std::to_string(files) +
           " seed=" + std::to_string(seed) + (dense ? " dense" : "") + "\n";
}

} // namespace
} // namespace tunesift::corpus

int main(int argc, char** argv)
{
    using namespace tunesift::corpus;
    std::uint64_t seed = 1;
    bool force = false;
    bool dense = false;
    std::vector<const char*> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--seed" && i + 1 < argc) {
            const auto value = parseNumber(argv[++i]);
            if (!value) {
                usage(stderr);
                return 2;
            }
            seed = *value;
        } else if (arg == "--force") {
            force = true;
        } else if (arg == "--dense") {
            dense = true;
        } else if (arg == "--help") {
            usage(stdout);
            return 0;
        } else if (arg.starts_with("--")) {
            usage(stderr);
            return 2;
        } else {
            positional.push_back(argv[i]);
        }
    }
    if (positional.size() != 2) {
        usage(stderr);
        return 2;
    }
    const auto files = parseNumber(positional[0]);
    if (!files || *files == 0 || *files > 1'000'000) {
        std::fprintf(stderr, "make_library: N must be between 1 and 1000000\n");
        return 2;
    }
    const fs::path root = positional[1];
    const fs::path manifest = root / kManifestName;
    const std::string wanted = manifestText(*files, seed, dense);

    std::error_code ec;
    if (fs::exists(root, ec) && !fs::is_empty(root, ec)) {
        std::string present;
        if (std::FILE* f = std::fopen(manifest.c_str(), "r")) {
            char buffer[256] = {};
            present.assign(buffer, std::fread(buffer, 1, sizeof buffer - 1, f));
            std::fclose(f);
        }
        if (present == wanted) {
            std::printf("%s already holds this library\n", root.c_str());
            return 0;
        }
        if (present.empty()) {
            std::fprintf(stderr, "make_library: %s is not empty and holds no library\n",
                         root.c_str());
            return 1;
        }
        if (!force) {
            while (!present.empty() && present.back() == '\n') {
                present.pop_back();
            }
            std::fprintf(stderr, "make_library: %s holds another library (%s); use --force\n",
                         root.c_str(), present.c_str());
            return 1;
        }
        fs::remove_all(root, ec);
        if (ec) {
            std::fprintf(stderr, "make_library: cannot remove %s\n", root.c_str());
            return 1;
        }
    }

    DenseCounts denseCounts;
    SparseCounts sparseCounts;
    if (dense) {
        if (!makeDenseLibrary(root, *files, seed, denseCounts)) {
            std::fprintf(stderr, "make_library: cannot write below %s\n", root.c_str());
            return 1;
        }
    } else if (!makeSparseLibrary(root, *files, seed, sparseCounts)) {
        return 1;
    }
    // Written last, so an interrupted run leaves no manifest and is never taken as complete.
    if (std::FILE* f = std::fopen(manifest.c_str(), "w")) {
        std::fputs(wanted.c_str(), f);
        std::fclose(f);
    } else {
        std::fprintf(stderr, "make_library: cannot write %s\n", manifest.c_str());
        return 1;
    }
    if (dense) {
        std::printf("%s: %zu MP3 files, %zu exact copies, %zu retagged copies\n", root.c_str(),
                    denseCounts.files, denseCounts.copies, denseCounts.retagged);
        return 0;
    }
    std::printf("%s: %zu MP3 files, %zu hidden MP3 files, %zu other files\n", root.c_str(),
                sparseCounts.written, sparseCounts.hidden, sparseCounts.others);
    return 0;
}
