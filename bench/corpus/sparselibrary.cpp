#include "sparselibrary.h"

#include "librarynames.h"
#include "mp3bytes.h"
#include "splitmix.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

namespace tunesift::corpus {
namespace {

namespace fs = std::filesystem;
using bench::Rng;

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
                name.insert(name.find(" - ") + 3, 1, ' '); // a double space from careless typing
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
            std::string hiddenName = ".";
            hiddenName += trackFileName(t.number, album.artist, t.title);
            writeMp3(folder / hiddenName, t.layout, false);
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

    // Two loose tracks may get the same name; the first one stays and the second is dropped.
    bool writeFile(const fs::path& relative, std::string_view head, std::string_view tail,
                   std::int64_t size)
    {
        const WriteOutcome outcome = writeSparseFile(m_root / relative, head, tail, size);
        m_ok = m_ok && outcome != WriteOutcome::Failed;
        return outcome == WriteOutcome::Written;
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

} // namespace

bool makeSparseLibrary(const fs::path& root, std::size_t files, std::uint64_t seed,
                       SparseCounts& counts)
{
    LibraryMaker maker(root, files, seed);
    const bool ok = maker.run();
    counts.written = maker.written();
    counts.hidden = maker.hidden();
    counts.others = maker.others();
    return ok;
}

} // namespace tunesift::corpus
