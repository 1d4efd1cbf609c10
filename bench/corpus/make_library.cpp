// Makes a synthetic music library for the benchmarks: Genre/Artist/Album folders of MP3 files
// named "NN - Artist - Title.mp3", with the duplicate patterns a real collection has (copied
// albums, renamed and re-encoded copies, case and stop-word variants, covers of the same song),
// and the clutter a scan must step over (pictures, playlists, hidden folders, ".MP3" names).
//
// Every MP3 starts with a valid MPEG-1 Layer III frame header (some behind an ID3v2 tag or a
// little junk) and most end in an ID3v1 tag. The files are sparse: real-looking sizes of a few
// megabytes, so that equal sizes are as rare as in a real library, while each file occupies
// only its first and last block on disk. The same seed gives the same library.

#include "splitmix.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>
#include <vector>

namespace tunesift {
namespace {

namespace fs = std::filesystem;

constexpr int kFormatVersion = 1;
constexpr const char* kManifestName = ".tunesift-library";

using bench::Rng;

// How one MP3 file looks on disk. Copies share it; variants change some of it.
struct Mp3Layout
{
    std::int64_t size = 0;
    int id3v2Payload = 0; // bytes after the 10-byte ID3v2 header; 0 for no ID3v2 tag
    int junk = 0;         // zero bytes before the first frame header
    int bitRateIndex = 9;
    int sampleRateIndex = 0;
    int channelMode = 1;
    bool padding = false;
    std::uint32_t xingFrames = 0; // 0 for a constant-bit-rate file without a Xing block
    bool hasTag = true;
    bool nulPadded = false; // title padded with NULs instead of spaces
    std::string tagTitle;   // Latin-1 bytes
    std::string tagArtist;
    std::string tagAlbum;
    int year = 2000;
    int track = 0;
    int genre = 0;
    std::uint64_t noise = 0; // seeds the filler bytes
    bool broken = false;     // a small file with no frame header at all
};

struct Track
{
    int number = 0;
    std::string title; // UTF-8
    Mp3Layout layout;
};

struct Album
{
    std::string artist;
    std::string name;
    int genre = 0;
    int year = 2000;
    std::vector<Track> tracks;
};

constexpr std::array kSyllables = {
    "ka", "lo",  "mi", "ren", "tor", "va",  "shi", "den", "mar", "el",  "qui", "zo",
    "ba", "rin", "to", "sa",  "ne",  "gor", "fa",  "lu",  "pe",  "dra", "ki",  "mo",
    "ta", "ver", "ni", "sol", "ra",  "bel", "cor", "in",  "ya",  "gal", "ho",  "wen",
};

constexpr std::array kGenres = {
    "Rock", "Pop",   "Jazz",  "Classical", "Electronic", "Hip-Hop",
    "Folk", "Metal", "Blues", "Soul",      "Reggae",     "Country",
};

constexpr std::array kAccented = {"é", "ü", "ø", "ñ", "å", "ç"};
constexpr std::array kExtraWords = {"(Live)", "Remastered", "(Demo)",
                                    "Remix",  "(Edit)",     "Acoustic"};

std::string capitalised(std::string word)
{
    if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') {
        word[0] = static_cast<char>(word[0] - 'a' + 'A');
    }
    return word;
}

std::string makeWord(Rng& rng)
{
    std::string word;
    const int syllables = rng.between(1, 3);
    for (int i = 0; i < syllables; ++i) {
        word += kSyllables[rng.below(kSyllables.size())];
    }
    return capitalised(word);
}

// UTF-8 to Latin-1 for the few non-ASCII letters the names use; anything else becomes "?".
std::string toLatin1(std::string_view utf8)
{
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            const auto c2 = static_cast<unsigned char>(utf8[i + 1]);
            const unsigned cp = ((c & 0x1Fu) << 6) | (c2 & 0x3Fu);
            out += cp < 0x100 ? static_cast<char>(cp) : '?';
            ++i;
        } else {
            out += '?';
        }
    }
    return out;
}

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

std::string upperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return text;
}

std::vector<std::string> splitSpaces(std::string_view text)
{
    std::vector<std::string> words;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = text.find(' ', start);
        words.emplace_back(text.substr(start, space - start));
        if (space == std::string_view::npos) {
            break;
        }
        start = space + 1;
    }
    return words;
}

std::string joinSpaces(const std::vector<std::string>& words)
{
    std::string out;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0) {
            out += ' ';
        }
        out += words[i];
    }
    return out;
}

class LibraryMaker
{
public:
    LibraryMaker(fs::path root, std::size_t files, std::uint64_t seed)
        : m_root(std::move(root)), m_target(files), m_rng(seed)
    {
        const std::size_t vocabulary = std::clamp<std::size_t>(files / 8, 2000, 60000);
        for (std::size_t i = 0; i < vocabulary; ++i) {
            m_vocabulary.push_back(makeWord(m_rng));
        }
        const std::size_t standards = std::clamp<std::size_t>(files / 40, 50, 30000);
        for (std::size_t i = 0; i < standards; ++i) {
            m_standards.push_back(makeTitle());
        }
    }

    bool run()
    {
        std::error_code ec;
        fs::create_directories(m_root, ec);
        if (ec) {
            std::fprintf(stderr, "make_library: cannot create %s: %s\n", m_root.c_str(),
                         ec.message().c_str());
            return false;
        }
        while (m_written < m_target && m_ok) {
            makeArtist();
        }
        makeTrash();
        return m_ok;
    }

    std::size_t written() const { return m_written; }
    std::size_t hidden() const { return m_hidden; }
    std::size_t others() const { return m_others; }

private:
    std::string pickWord() { return m_vocabulary[m_rng.skewed(m_vocabulary.size(), 2.2)]; }

    std::string makeTitle()
    {
        std::vector<std::string> words;
        int count = m_rng.between(1, 4);
        if (m_rng.chance(0.03)) {
            count = m_rng.between(8, 12); // long titles reach the 11-word side of the threshold
        }
        for (int i = 0; i < count; ++i) {
            words.push_back(pickWord());
        }
        if (count >= 2 && m_rng.chance(0.2)) {
            const std::size_t at = 1 + m_rng.below(static_cast<std::uint32_t>(count - 1));
            const char* joiner = m_rng.chance(0.5) ? "of the" : "and";
            words.insert(words.begin() + static_cast<std::ptrdiff_t>(at), joiner);
        } else if (m_rng.chance(0.1)) {
            words.insert(words.begin(), "The");
        }
        return joinSpaces(words);
    }

    std::string makeArtistName()
    {
        std::vector<std::string> words;
        const int count = m_rng.between(1, 3);
        for (int i = 0; i < count; ++i) {
            words.push_back(pickWord());
        }
        if (m_rng.chance(0.02)) {
            words.back() += kAccented[m_rng.below(kAccented.size())];
        }
        if (m_rng.chance(0.25)) {
            words.insert(words.begin(), "The");
        } else if (count == 1 && m_rng.chance(0.15)) {
            words.push_back("and");
            words.push_back(pickWord());
        }
        return joinSpaces(words);
    }

    Mp3Layout makeLayout(const std::string& artist, const std::string& album,
                         const std::string& title, int year, int track, int genre)
    {
        Mp3Layout l;
        static constexpr std::array<int, 6> kRates = {9, 9, 14, 11, 10, 12};
        l.bitRateIndex = m_rng.chance(0.1) ? 13 : kRates[m_rng.below(kRates.size())];
        const double r = m_rng.unit();
        l.sampleRateIndex = r < 0.85 ? 0 : (r < 0.95 ? 1 : 2);
        const double m = m_rng.unit();
        l.channelMode = m < 0.6 ? 1 : (m < 0.9 ? 0 : 3);
        l.padding = m_rng.chance(0.5);
        if (m_rng.chance(0.2)) {
            l.id3v2Payload = m_rng.between(64, 3000);
        } else if (m_rng.chance(0.03)) {
            l.junk = m_rng.between(1, 400);
        }
        static constexpr std::array<int, 15> kKbps = {0,   32,  40,  48,  56,  64,  80, 96,
                                                      112, 128, 160, 192, 224, 256, 320};
        const int seconds = m_rng.between(90, 480);
        const std::int64_t audio = static_cast<std::int64_t>(seconds) * kKbps[l.bitRateIndex] * 125;
        if (l.channelMode != 3 && m_rng.chance(0.1)) {
            l.xingFrames = static_cast<std::uint32_t>(seconds * 38); // about 38 frames a second
        }
        l.hasTag = !m_rng.chance(0.1);
        l.nulPadded = m_rng.chance(0.3);
        l.tagTitle = toLatin1(title);
        l.tagArtist = toLatin1(artist);
        l.tagAlbum = toLatin1(album);
        l.year = year;
        l.track = track;
        l.genre = genre;
        l.size = audio + (l.id3v2Payload ? l.id3v2Payload + 10 : 0) + l.junk +
                 (l.hasTag ? 128 : 0) + m_rng.below(418);
        l.noise = m_rng.next();
        if (m_rng.chance(0.001)) {
            l.broken = true;
            l.size = m_rng.between(1000, 4000);
        }
        if (m_rng.chance(0.02)) {
            l.tagTitle.clear(); // a tag whose title was never filled in
        }
        return l;
    }

    // A free folder path below the root, made unique when a name comes round twice.
    fs::path claimFolder(const fs::path& wanted)
    {
        fs::path candidate = wanted;
        for (int n = 2; m_folders.count(candidate.string()) != 0; ++n) {
            candidate = wanted.string() + " (" + std::to_string(n) + ")";
        }
        m_folders.insert(candidate.string());
        std::error_code ec;
        fs::create_directories(m_root / candidate, ec);
        if (ec) {
            std::fprintf(stderr, "make_library: cannot create %s: %s\n",
                         (m_root / candidate).c_str(), ec.message().c_str());
            m_ok = false;
        }
        return candidate;
    }

    static std::string trackFileName(int number, const std::string& artist,
                                     const std::string& title, const char* extension = ".mp3")
    {
        char prefix[16];
        std::snprintf(prefix, sizeof prefix, "%02d", number);
        return std::string(prefix) + " - " + artist + " - " + title + extension;
    }

    void makeArtist()
    {
        const std::string artist = makeArtistName();
        const int genre = static_cast<int>(m_rng.below(kGenres.size()));
        const int albums = 1 + static_cast<int>(m_rng.skewed(14, 1.6));
        for (int a = 0; a < albums && m_written < m_target && m_ok; ++a) {
            Album album;
            album.artist = artist;
            album.genre = genre;
            album.year = m_rng.between(1960, 2024);
            album.name = makeTitle();
            const int tracks = m_rng.between(6, 16);
            for (int t = 1; t <= tracks; ++t) {
                Track track;
                track.number = t;
                track.title = m_rng.chance(0.1) ? m_standards[m_rng.skewed(m_standards.size(), 1.5)]
                                                : makeTitle();
                track.layout = makeLayout(artist, album.name, track.title, album.year, t, genre);
                album.tracks.push_back(std::move(track));
            }
            writeAlbum(album);
            m_albums.push_back(std::move(album));
            if (m_rng.chance(0.08) && m_written < m_target) {
                copyAlbum(m_albums[m_rng.below(static_cast<std::uint32_t>(m_albums.size()))]);
            }
        }
        if (m_rng.chance(0.1) && m_written < m_target) {
            writeSingles(artist, genre);
        }
    }

    void writeAlbum(const Album& album)
    {
        char year[8];
        std::snprintf(year, sizeof year, "%d", album.year);
        const fs::path folder = claimFolder(fs::path(kGenres[album.genre]) / album.artist /
                                            (std::string(year) + " - " + album.name));
        for (const Track& track : album.tracks) {
            if (m_written >= m_target) {
                break;
            }
            const char* extension = m_rng.chance(0.03) ? ".MP3" : ".mp3";
            writeMp3(folder / trackFileName(track.number, album.artist, track.title, extension),
                     track.layout, true);
        }
        writeClutter(folder, album);
    }

    // Loose tracks of an artist without track numbers, the way downloads often arrive.
    void writeSingles(const std::string& artist, int genre)
    {
        const fs::path folder = claimFolder(fs::path(kGenres[genre]) / artist / "Singles");
        const int count = m_rng.between(1, 6);
        for (int i = 0; i < count && m_written < m_target; ++i) {
            const std::string title = makeTitle();
            const Mp3Layout layout = makeLayout(artist, "", title, 2010, 0, genre);
            writeMp3(folder / (artist + " - " + title + ".mp3"), layout, true);
        }
    }

    // A second copy of an earlier album: a backup, a deluxe edition or a re-rip, with its tracks
    // copied exactly, renamed, re-encoded or re-tagged.
    void copyAlbum(const Album& original)
    {
        char year[8];
        std::snprintf(year, sizeof year, "%d", original.year);
        const std::string albumFolder = std::string(year) + " - " + original.name;
        fs::path wanted;
        const double where = m_rng.unit();
        if (where < 0.4) {
            wanted = fs::path("Backup") / original.artist / albumFolder;
        } else if (where < 0.7) {
            wanted = fs::path(kGenres[original.genre]) / original.artist /
                     (albumFolder + " (Deluxe Edition)");
        } else {
            wanted = fs::path("Incoming") / (original.artist + " - " + original.name);
        }
        const fs::path folder = claimFolder(wanted);
        for (const Track& track : original.tracks) {
            if (m_written >= m_target) {
                break;
            }
            if (m_rng.chance(0.15)) {
                continue; // not every track was copied
            }
            std::string artist = original.artist;
            std::string title = track.title;
            std::string name;
            Mp3Layout layout = track.layout;
            const double v = m_rng.unit();
            if (v < 0.45) {
                name = trackFileName(track.number, artist, title); // an exact copy
            } else if (v < 0.55) {
                name = m_rng.chance(0.5) ? lowerAscii(trackFileName(track.number, artist, title))
                                         : trackFileName(track.number, upperAscii(artist), title);
                reencode(layout);
                if (m_rng.chance(0.5)) {
                    layout.tagTitle = lowerAscii(layout.tagTitle);
                }
            } else if (v < 0.65) {
                // With and without the leading "The", which the measure drops as a stop word.
                artist = artist.rfind("The ", 0) == 0 ? artist.substr(4) : "The " + artist;
                name = trackFileName(track.number, artist, title);
                reencode(layout);
                if (m_rng.chance(0.5)) {
                    const std::string t = layout.tagTitle;
                    layout.tagTitle = t.rfind("The ", 0) == 0 ? t.substr(4) : "The " + t;
                }
            } else if (v < 0.75) {
                std::vector<std::string> words = splitSpaces(title);
                if (words.size() > 1 && m_rng.chance(0.4)) {
                    words.erase(words.begin() +
                                m_rng.below(static_cast<std::uint32_t>(words.size())));
                } else {
                    words.push_back(kExtraWords[m_rng.below(kExtraWords.size())]);
                }
                title = joinSpaces(words);
                name = trackFileName(track.number, artist, title);
                reencode(layout);
                layout.tagTitle = toLatin1(title);
            } else if (v < 0.85) {
                name = trackFileName(track.number, artist, title, ".MP3");
            } else if (v < 0.95) {
                // The same file under another name: equal sizes, nothing else in common.
                char prefix[16];
                std::snprintf(prefix, sizeof prefix, "%02d", track.number);
                name = std::string(prefix) + ". " + title + ".mp3";
            } else {
                name = trackFileName(track.number, artist, title);
                name.insert(name.find(" - ") + 3, " "); // a double space from careless typing
                layout.nulPadded = !layout.nulPadded;
            }
            writeMp3(folder / name, layout, true);
        }
        if (m_rng.chance(0.3)) {
            writeOther(folder / "cover.jpg", 2000 + m_rng.below(6000));
        }
    }

    void reencode(Mp3Layout& layout)
    {
        const std::int64_t delta = static_cast<std::int64_t>(m_rng.below(400000)) - 200000;
        layout.size = std::max<std::int64_t>(layout.size + delta, 600000);
        layout.noise = m_rng.next();
        if (m_rng.chance(0.3)) {
            layout.hasTag = !layout.hasTag;
        }
    }

    void writeClutter(const fs::path& folder, const Album& album)
    {
        if (m_rng.chance(0.4)) {
            writeOther(folder / (m_rng.chance(0.8) ? "cover.jpg" : "Folder.JPG"),
                       2000 + m_rng.below(6000));
        }
        if (m_rng.chance(0.1)) {
            writeOther(folder / (album.name + ".m3u"), 200 + m_rng.below(800));
        }
        if (m_rng.chance(0.05)) {
            writeOther(folder / "notes.txt", 100 + m_rng.below(900));
        }
        if (m_rng.chance(0.01) && !album.tracks.empty()) {
            const Track& t = album.tracks.front();
            writeOther(folder / (trackFileName(t.number, album.artist, t.title) + ".part"),
                       3000 + m_rng.below(3000));
        }
        if (m_rng.chance(0.02) && !album.tracks.empty()) {
            // A sync tool's hidden folder: its MP3s must never be catalogued.
            const fs::path hiddenFolder = folder / (m_rng.chance(0.5) ? ".sync" : ".thumbnails");
            std::error_code ec;
            fs::create_directories(m_root / hiddenFolder, ec);
            for (const Track& t : album.tracks) {
                if (m_rng.chance(0.3)) {
                    writeMp3(hiddenFolder / trackFileName(t.number, album.artist, t.title),
                             t.layout, false);
                }
            }
        }
        if (m_rng.chance(0.01) && !album.tracks.empty()) {
            const Track& t = album.tracks.back();
            writeMp3(folder / ("." + trackFileName(t.number, album.artist, t.title)), t.layout,
                     false);
        }
    }

    // The trash of a desktop, hidden at the top: full of MP3s that must not be catalogued.
    void makeTrash()
    {
        const fs::path folder = ".Trash-1000/files";
        std::error_code ec;
        fs::create_directories(m_root / folder, ec);
        const std::size_t count = std::min<std::size_t>(m_albums.size(), 5 + m_target / 400);
        for (std::size_t i = 0; i < count && m_ok; ++i) {
            const Album& album = m_albums[m_rng.below(static_cast<std::uint32_t>(m_albums.size()))];
            const Track& t =
                album.tracks[m_rng.below(static_cast<std::uint32_t>(album.tracks.size()))];
            writeMp3(folder / (std::to_string(i) + " - " + t.title + ".mp3"), t.layout, false);
        }
    }

    void writeOther(const fs::path& relative, std::uint32_t bytes)
    {
        Rng noise(m_rng.next());
        std::string data(bytes, '\0');
        for (char& c : data) {
            c = static_cast<char>(noise.next());
        }
        if (writeFile(relative, data, std::string_view{}, static_cast<std::int64_t>(bytes))) {
            ++m_others;
        }
    }

    void writeMp3(const fs::path& relative, const Mp3Layout& l, bool visible)
    {
        std::string head;
        std::string tail;
        buildMp3(l, head, tail);
        if (writeFile(relative, head, tail, l.size)) {
            if (visible) {
                ++m_written;
            } else {
                ++m_hidden;
            }
        }
    }

    static void buildMp3(const Mp3Layout& l, std::string& head, std::string& tail)
    {
        Rng noise(l.noise);
        if (l.broken) {
            head.assign(static_cast<std::size_t>(l.size), '\0');
            for (char& c : head) {
                c = static_cast<char>(noise.next() & 0x7F); // never a frame sync
            }
            return;
        }
        if (l.id3v2Payload > 0) {
            head += "ID3";
            head += '\x03';
            head += '\x00';
            head += '\x00';
            for (int shift = 21; shift >= 0; shift -= 7) {
                head += static_cast<char>((l.id3v2Payload >> shift) & 0x7F); // synchsafe
            }
            // One TIT2 frame, then padding up to the declared size.
            const std::string text = std::string(1, '\0') + l.tagTitle;
            std::string frame = "TIT2";
            const auto n = static_cast<std::uint32_t>(text.size());
            frame += static_cast<char>(n >> 24);
            frame += static_cast<char>(n >> 16);
            frame += static_cast<char>(n >> 8);
            frame += static_cast<char>(n);
            frame += std::string(2, '\0');
            frame += text;
            if (frame.size() <= static_cast<std::size_t>(l.id3v2Payload)) {
                head += frame;
            }
            head.resize(10 + static_cast<std::size_t>(l.id3v2Payload), '\0');
        }
        head.append(static_cast<std::size_t>(l.junk), '\0');
        const std::size_t frameAt = head.size();
        // MPEG-1 Layer III, no CRC: sync 0xFFE, version 11, layer 01, protection 1.
        head += '\xFF';
        head += '\xFB';
        head += static_cast<char>((l.bitRateIndex << 4) | (l.sampleRateIndex << 2) |
                                  (l.padding ? 0x02 : 0));
        head += static_cast<char>((l.channelMode << 6) | 0x04); // "original" bit set
        head.resize(frameAt + 36, '\0');                        // side information
        if (l.xingFrames != 0) {
            head += "Xing";
            head += std::string("\x00\x00\x00\x03", 4); // frame count and byte count present
            for (int shift = 24; shift >= 0; shift -= 8) {
                head += static_cast<char>((l.xingFrames >> shift) & 0xFF);
            }
            const auto bytes = static_cast<std::uint32_t>(l.size);
            for (int shift = 24; shift >= 0; shift -= 8) {
                head += static_cast<char>((bytes >> shift) & 0xFF);
            }
        }
        const std::size_t headSize = std::min<std::size_t>(std::max<std::size_t>(head.size(), 4096),
                                                           static_cast<std::size_t>(l.size) - 128);
        while (head.size() < headSize) {
            head += static_cast<char>(noise.next());
        }
        head.resize(headSize);

        if (l.hasTag) {
            tail = "TAG";
            auto field = [&tail](const std::string& text, std::size_t width, char pad) {
                std::string f = text.substr(0, width);
                f.resize(width, pad);
                tail += f;
            };
            field(l.tagTitle, 30, l.nulPadded ? '\0' : ' ');
            field(l.tagArtist, 30, ' ');
            field(l.tagAlbum, 30, ' ');
            field(std::to_string(l.year), 4, '\0');
            std::string comment(30, '\0');
            std::memcpy(comment.data(), "ripped", 6);
            comment[29] = static_cast<char>(l.track);
            tail += comment;
            tail += static_cast<char>(l.genre);
        } else {
            for (int i = 0; i < 128; ++i) {
                tail += static_cast<char>(noise.next() & 0x7F); // audio data, not "TAG"
            }
        }
    }

    // Writes head at the start and tail at the end of a file of the given size; what lies
    // between stays a hole.
    bool writeFile(const fs::path& relative, std::string_view head, std::string_view tail,
                   std::int64_t size)
    {
        const fs::path path = m_root / relative;
        // Two loose tracks may get the same name; the first one stays and the second is dropped.
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno == EEXIST) {
            return false;
        }
        if (fd < 0) {
            std::fprintf(stderr, "make_library: cannot create %s: %s\n", path.c_str(),
                         std::strerror(errno));
            m_ok = false;
            return false;
        }
        bool ok = ::pwrite(fd, head.data(), head.size(), 0) == static_cast<ssize_t>(head.size());
        if (ok && !tail.empty()) {
            const off_t at = static_cast<off_t>(size) - static_cast<off_t>(tail.size());
            ok = ::pwrite(fd, tail.data(), tail.size(), at) == static_cast<ssize_t>(tail.size());
        }
        ok = ok && ::ftruncate(fd, static_cast<off_t>(size)) == 0;
        ok = (::close(fd) == 0) && ok;
        if (!ok) {
            std::fprintf(stderr, "make_library: cannot write %s: %s\n", path.c_str(),
                         std::strerror(errno));
            m_ok = false;
        }
        return ok;
    }

    fs::path m_root;
    std::size_t m_target;
    Rng m_rng;
    std::vector<std::string> m_vocabulary;
    std::vector<std::string> m_standards;
    std::vector<Album> m_albums;
    std::unordered_set<std::string> m_folders;
    std::size_t m_written = 0;
    std::size_t m_hidden = 0;
    std::size_t m_others = 0;
    bool m_ok = true;
};

// The dense library: every byte written, for benchmarks that read whole files. Each file is a
// run of real MPEG-1 Layer III frames (valid headers, noise payload) of 0.3 to 1 MB, behind an
// ID3v2 tag and before an ID3v1 tag. A share of the files are exact copies, and a share are the
// same audio under other tags (another ID3v2 size, title and ID3v1 title, sometimes an APEv2
// tag): whole-file tools see the copies only, an audio comparison sees both.
struct DenseCounts
{
    std::size_t files = 0;
    std::size_t copies = 0;
    std::size_t retagged = 0;
};

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
} // namespace tunesift

int main(int argc, char** argv)
{
    using namespace tunesift;
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
    if (dense) {
        if (!makeDenseLibrary(root, *files, seed, denseCounts)) {
            std::fprintf(stderr, "make_library: cannot write below %s\n", root.c_str());
            return 1;
        }
    }
    LibraryMaker maker(root, *files, seed);
    if (!dense && !maker.run()) {
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
                maker.written(), maker.hidden(), maker.others());
    return 0;
}
