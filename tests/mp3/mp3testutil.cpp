#include "mp3/mp3testutil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>

#ifndef _WIN32
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tunesift::test {

ScopedDir::ScopedDir()
{
    std::random_device seed;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate =
            std::filesystem::temp_directory_path() / ("tunesift-mp3-" + std::to_string(seed()));
        if (std::filesystem::create_directory(candidate)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

ScopedDir::~ScopedDir()
{
    std::error_code ignored;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

#ifndef _WIN32
namespace {

const passwd& nobody()
{
    const passwd* user = ::getpwnam("nobody");
    if (user == nullptr) {
        throw std::runtime_error("no user \"nobody\" to drop the superuser's rights to");
    }
    return *user;
}

} // namespace

std::uint32_t unprivilegedUserId()
{
    return ::geteuid() == 0 ? nobody().pw_uid : ::geteuid();
}

std::uint32_t unprivilegedGroupId()
{
    return ::geteuid() == 0 ? nobody().pw_gid : ::getegid();
}

void asUnprivilegedUser(const std::function<void()>& body)
{
    if (::geteuid() != 0) {
        body();
        return;
    }
    const passwd& user = nobody();
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(user.pw_gid) != 0 ||
            ::setuid(user.pw_uid) != 0) {
            _exit(2);
        }
        body();
        std::fflush(nullptr);
        _exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the part run as \"nobody\" failed (status " << status << ")";
}
#endif

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::array<unsigned char, 4> frameHeader(const HeaderBits& bits)
{
    return {
        0xFF,
        static_cast<unsigned char>(0xE0 | (bits.version & 3) << 3 | (bits.layer & 3) << 1 |
                                   (bits.crc ? 0 : 1)),
        static_cast<unsigned char>((bits.bitRateIndex & 15) << 4 | (bits.frequencyIndex & 3) << 2 |
                                   (bits.padding & 1) << 1 | (bits.privateBit & 1)),
        static_cast<unsigned char>((bits.mode & 3) << 6 | (bits.modeExtension & 3) << 4 |
                                   (bits.copyright & 1) << 3 | (bits.original & 1) << 2 |
                                   (bits.emphasis & 3)),
    };
}

Bytes id3v2Header(std::uint32_t size, bool footer, unsigned char flags, unsigned char major,
                  unsigned char revision)
{
    Bytes bytes = footer ? Bytes{'3', 'D', 'I'} : Bytes{'I', 'D', '3'};
    bytes.push_back(major);
    bytes.push_back(revision);
    bytes.push_back(flags);
    bytes.push_back(static_cast<unsigned char>((size >> 21) & 0x7F));
    bytes.push_back(static_cast<unsigned char>((size >> 14) & 0x7F));
    bytes.push_back(static_cast<unsigned char>((size >> 7) & 0x7F));
    bytes.push_back(static_cast<unsigned char>(size & 0x7F));
    return bytes;
}

Bytes id3v1Tag(const TagFields& fields, char filler, const std::string& identifier)
{
    Bytes tag(128, static_cast<unsigned char>(filler));
    const auto field = [&](std::size_t at, std::size_t width, const std::string& text) {
        for (std::size_t i = 0; i < width && i < text.size(); ++i) {
            tag[at + i] = static_cast<unsigned char>(text[i]);
        }
    };
    field(0, 3, identifier);
    field(3, 30, fields.title);
    field(33, 30, fields.artist);
    field(63, 30, fields.album);
    field(93, 4, fields.year);
    field(97, 30, fields.comment);
    tag[127] = fields.genre;
    return tag;
}

Bytes xingBlock(std::uint32_t flags, std::uint32_t frameCount)
{
    Bytes bytes{'X', 'i', 'n', 'g'};
    for (const std::uint32_t value : {flags, frameCount}) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes.push_back(static_cast<unsigned char>(value >> shift));
        }
    }
    return bytes;
}

void put(Bytes& buffer, std::size_t offset, const Bytes& bytes)
{
    if (buffer.size() < offset + bytes.size()) {
        buffer.resize(offset + bytes.size());
    }
    std::copy(bytes.begin(), bytes.end(), buffer.begin() + static_cast<std::ptrdiff_t>(offset));
}

void put(Bytes& buffer, std::size_t offset, const std::array<unsigned char, 4>& bytes)
{
    put(buffer, offset, Bytes(bytes.begin(), bytes.end()));
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes apeTag(std::size_t itemBytes, bool withHeader)
{
    const auto part = [&](bool header) {
        Bytes bytes(32, 0);
        const std::string identifier = "APETAGEX";
        std::copy(identifier.begin(), identifier.end(), bytes.begin());
        const auto size = static_cast<std::uint32_t>(itemBytes + 32);
        const std::uint32_t flags = (withHeader ? 0x80000000u : 0) | (header ? 0x20000000u : 0);
        const std::uint32_t fields[] = {2000, size, 1, flags}; // version, size, items, flags
        for (std::size_t f = 0; f < 4; ++f)
            for (std::size_t b = 0; b < 4; ++b)
                bytes[8 + 4 * f + b] = static_cast<unsigned char>(fields[f] >> (8 * b));
        return bytes;
    };
    Bytes items(itemBytes, 'i');
    return withHeader ? concat({part(true), items, part(false)}) : concat({items, part(false)});
}

Bytes lyrics3v2Tag(const std::string& fields)
{
    const std::string body = "LYRICSBEGIN" + fields;
    char digits[8];
    std::snprintf(digits, sizeof digits, "%06zu", body.size());
    const std::string all = body + digits + "LYRICS200";
    return Bytes(all.begin(), all.end());
}

Bytes appendedId3v2Tag(std::size_t bodyBytes)
{
    return concat({id3v2Header(static_cast<std::uint32_t>(bodyBytes), false, 0x10),
                   Bytes(bodyBytes, 0x20),
                   id3v2Header(static_cast<std::uint32_t>(bodyBytes), true, 0x10)});
}

Bytes enhancedTag(const std::string& title)
{
    std::string text = "TAG+" + title;
    text.resize(227, '\0');
    return Bytes(text.begin(), text.end());
}

#ifndef _WIN32
bool encodeTune(const std::string& path, std::uint32_t seed, double seconds,
                const std::string& lameOptions)
{
    constexpr int kRate = 22050;
    const std::string pcm = path + ".raw";
    {
        std::ofstream out(pcm, std::ios::binary);
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> note(40, 90); // MIDI notes
        double hz[2] = {0, 0};
        double phase[2] = {0, 0};
        const auto samples = static_cast<int>(seconds * kRate);
        for (int i = 0; i < samples; ++i) {
            if (i % (kRate / 4) == 0)
                for (double& f : hz)
                    f = 440.0 * std::pow(2.0, (note(random) - 69) / 12.0);
            double value = 0;
            for (int k = 0; k < 2; ++k) {
                phase[k] += 2 * 3.14159265358979 * hz[k] / kRate;
                value += 7000 * std::sin(phase[k]);
            }
            const auto sample = seed == 0 ? std::int16_t{0} : static_cast<std::int16_t>(value);
            const char bytes[2] = {static_cast<char>(sample & 0xFF),
                                   static_cast<char>((sample >> 8) & 0xFF)};
            out.write(bytes, 2);
        }
    }
    const std::string command = "lame --quiet -r --bitwidth 16 --signed --little-endian -s 22.05 "
                                "-m m " +
                                lameOptions + " '" + pcm + "' '" + path + "' 2>/dev/null";
    const bool encoded = std::system(command.c_str()) == 0;
    std::remove(pcm.c_str());
    return encoded;
}
#endif

} // namespace tunesift::test
