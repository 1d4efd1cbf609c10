#include "denselibrary.h"

#include "splitmix.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace tunesift::corpus {

namespace fs = std::filesystem;
using bench::Rng;

namespace {

std::string denseAudio(Rng& rng)
{
    const std::int64_t target = 300'000 + static_cast<std::int64_t>(rng.below(700'000));
    std::string audio;
    audio.reserve(static_cast<std::size_t>(target) + 512);
    while (static_cast<std::int64_t>(audio.size()) < target) {
        // 128 kbit/s, 44.1 kHz, joint stereo; padding as an encoder sets it.
        const bool padding = rng.chance(0.5);
        audio += "\xFF\xFB";
        audio += static_cast<char>(padding ? 0x92 : 0x90);
        audio += static_cast<char>(0x44);
        const std::size_t payload = (padding ? 418 : 417) - 4;
        for (std::size_t k = 0; k < payload; k += 8) {
            const std::uint64_t bits = rng.next() & 0x7F7F7F7F7F7F7F7Full; // never a frame sync
            audio.append(reinterpret_cast<const char*>(&bits),
                         std::min<std::size_t>(8, payload - k));
        }
    }
    return audio;
}

std::string denseTags(Rng& rng, const std::string& title, std::string& after)
{
    const auto synchsafe = [](std::uint32_t size) {
        std::string bytes;
        for (int shift = 21; shift >= 0; shift -= 7)
            bytes += static_cast<char>((size >> shift) & 0x7F);
        return bytes;
    };
    std::string frame = "TIT2" + synchsafe(static_cast<std::uint32_t>(title.size() + 1)) +
                        std::string("\0\0\3", 3) + title;
    const std::uint32_t padding = static_cast<std::uint32_t>(rng.below(4096));
    std::string before = std::string("ID3\4\0\0", 6) +
                         synchsafe(static_cast<std::uint32_t>(frame.size()) + padding) + frame +
                         std::string(padding, '\0');
    after.clear();
    if (rng.chance(0.25)) {
        std::string ape = "APETAGEX";
        const auto le32 = [](std::uint32_t v) {
            std::string b;
            for (int k = 0; k < 4; ++k)
                b += static_cast<char>((v >> (8 * k)) & 0xFF);
            return b;
        };
        const std::string item = le32(static_cast<std::uint32_t>(title.size())) + le32(0) +
                                 "Title" + std::string(1, '\0') + title;
        const std::uint32_t size = static_cast<std::uint32_t>(item.size()) + 32;
        after = item + ape + le32(2000) + le32(size) + le32(1) + le32(0) + std::string(8, '\0');
    }
    std::string v1 = "TAG" + title.substr(0, 30);
    v1.resize(128, '\0');
    after += v1;
    return before;
}

bool writeWhole(const fs::path& path, const std::string& bytes)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return (std::fclose(f) == 0) && ok;
}

} // namespace

bool makeDenseLibrary(const fs::path& root, std::size_t target, std::uint64_t seed,
                      DenseCounts& counts)
{
    Rng rng(seed);
    std::vector<std::pair<std::uint64_t, std::string>> originals; // audio seed, relative path
    while (counts.files < target) {
        const std::string folder = "Artist " + std::to_string(rng.below(target / 20 + 1)) +
                                   "/Album " + std::to_string(rng.below(5));
        const std::string title = "Song " + std::to_string(counts.files);
        std::string relative = folder + "/" + title + ".mp3";
        const double pick = rng.unit();
        std::uint64_t audioSeed = rng.next();
        std::string tagTitle = title;
        bool copy = false;
        bool retag = false;
        if (!originals.empty() && pick < 0.2) {
            const auto& source = originals[rng.below(originals.size())];
            if (pick < 0.1) {
                // A copy of the whole file.
                std::error_code ec;
                fs::create_directories(root / folder, ec);
                fs::copy_file(root / source.second, root / (relative), ec);
                if (ec)
                    return false;
                copy = true;
            } else {
                // The same audio under other tags, named so that a count can find it.
                audioSeed = source.first;
                tagTitle = title + " (retagged)";
                relative = folder + "/" + tagTitle + ".mp3";
                retag = true;
            }
        }
        if (!copy) {
            Rng audioRng(audioSeed);
            Rng tagRng(rng.next());
            std::string after;
            const std::string before = denseTags(tagRng, tagTitle, after);
            if (!writeWhole(root / relative, before + denseAudio(audioRng) + after))
                return false;
            if (!retag)
                originals.emplace_back(audioSeed, relative);
        }
        ++counts.files;
        counts.copies += copy ? 1 : 0;
        counts.retagged += retag ? 1 : 0;
    }
    return true;
}

} // namespace tunesift::corpus
