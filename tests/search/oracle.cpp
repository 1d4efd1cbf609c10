#include "search/oracle.h"

#include "files/fileaccess.h"
#include "mp3/audioprint.h"
#include "mp3/id3v1.h"
#include "mp3/mp3analysis.h"
#include "search/audiomatch.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#ifdef _WIN32
#include <filesystem>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <unicode/uchar.h>
#include <unistd.h>
#endif

namespace tunesift::test {

namespace {

#ifdef _WIN32
constexpr char kSeparator = '\\';
#else
constexpr char kSeparator = '/';
#endif
constexpr const char* kProduct = "Tunesift";

template <typename Map>
std::string mapCodePoints(std::string_view text, Map map)
{
    std::string result;
    result.reserve(text.size());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        const std::int32_t start = i;
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0) {
            result.append(
                text.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
            continue;
        }
        std::uint8_t out[U8_MAX_LENGTH];
        std::int32_t n = 0;
        U8_APPEND_UNSAFE(out, n, map(c));
        result.append(reinterpret_cast<const char*>(out), static_cast<std::size_t>(n));
    }
    return result;
}

bool endsWithMp3(std::string_view name)
{
    if (name.size() < 4)
        return false;
    std::string tail(name.substr(name.size() - 4));
    for (char& c : tail)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return tail == ".mp3";
}

#ifdef _WIN32
// The system's case mapping of one code point, through the invariant locale.
UChar32 mapCodePoint(UChar32 c, DWORD flag)
{
    wchar_t units[U16_MAX_LENGTH];
    std::int32_t length = 0;
    U16_APPEND_UNSAFE(units, length, c);
    wchar_t mapped[U16_MAX_LENGTH];
    if (LCMapStringEx(LOCALE_NAME_INVARIANT, flag, units, length, mapped, U16_MAX_LENGTH, nullptr,
                      nullptr, 0) != length)
        return c;
    std::int32_t k = 0;
    UChar32 result = 0;
    U16_NEXT_UNSAFE(mapped, k, result);
    return result;
}

std::string utf8(const std::filesystem::path& path)
{
    const std::u8string raw = path.u8string();
    return std::string(raw.begin(), raw.end());
}

std::vector<std::string> listFolder(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    std::filesystem::directory_iterator it(std::filesystem::u8path(folder), error), end;
    for (; !error && it != end; it.increment(error)) {
        const std::string name = utf8(it->path().filename());
        if (!name.empty() && name.front() != '.')
            names.push_back(name);
    }
    return names;
}

bool entryIs(const std::string& path, int type)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(std::filesystem::u8path(path), error);
    return !error && (type == S_IFDIR ? std::filesystem::is_directory(status)
                                      : std::filesystem::is_regular_file(status));
}

bool querySize(const std::string& path, std::int64_t& size)
{
    std::ifstream file(std::filesystem::u8path(path), std::ios::binary | std::ios::ate);
    if (!file)
        return false;
    size = static_cast<std::int64_t>(file.tellg());
    return size >= 0;
}
#else
// The listing of one folder in the order the file system returns it, without hidden entries.
std::vector<std::string> listFolder(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (!name.empty() && name.front() != '.')
            names.push_back(name);
    }
    ::closedir(dir);
    return names;
}

// Symbolic links are never followed below a listed folder, so the entry's own type counts.
bool entryIs(const std::string& path, mode_t type)
{
    struct stat st
    {};
    return ::lstat(path.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == type;
}

bool querySize(const std::string& path, std::int64_t& size)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    struct stat st
    {};
    const bool ok = ::fstat(fd, &st) == 0;
    ::close(fd);
    size = static_cast<std::int64_t>(st.st_size);
    return ok;
}
#endif

std::string_view fileNameOfPath(std::string_view path)
{
    const std::size_t p = path.rfind(kSeparator);
    return p == std::string_view::npos ? path : path.substr(p + 1);
}

std::string_view folderOfPath(std::string_view path)
{
    const std::size_t p = path.rfind(kSeparator);
    return p == std::string_view::npos ? std::string_view() : path.substr(0, p + 1);
}

std::string thousands(std::size_t value)
{
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            text += ',';
        text += digits[k];
    }
    return text;
}

} // namespace

std::string OracleLowerCase(std::string_view text)
{
#ifdef _WIN32
    return mapCodePoints(text, [](UChar32 c) { return mapCodePoint(c, LCMAP_LOWERCASE); });
#else
    return mapCodePoints(text, [](UChar32 c) { return u_tolower(c); });
#endif
}

std::string OracleUpperCase(std::string_view text)
{
#ifdef _WIN32
    return mapCodePoints(text, [](UChar32 c) { return mapCodePoint(c, LCMAP_UPPERCASE); });
#else
    return mapCodePoints(text, [](UChar32 c) { return u_toupper(c); });
#endif
}

std::vector<std::string> OracleSplitWords(std::string_view text)
{
    std::vector<std::string> words;
    std::string rest(text);
    for (std::size_t p = rest.find(' '); p != std::string::npos; p = rest.find(' ')) {
        const std::string word = OracleLowerCase(rest.substr(0, p));
        if (word != "and" && word != "of" && word != "the")
            words.push_back(word);
        rest.erase(0, p + 1);
    }
    words.push_back(rest);
    return words;
}

double OracleWordSimilarity(const std::vector<std::string>& first,
                            const std::vector<std::string>& second)
{
    int matched = 0;
    for (const std::string& a : first) {
        for (const std::string& b : second) {
            if (OracleUpperCase(a) == OracleUpperCase(b)) {
                ++matched;
                break;
            }
        }
    }
    const std::size_t longer = std::max(first.size(), second.size());
    return static_cast<double>(matched) / static_cast<double>(longer);
}

bool IsValidUtf8(std::string_view text)
{
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto length = static_cast<std::int32_t>(text.size());
    std::int32_t i = 0;
    while (i < length) {
        UChar32 c = 0;
        U8_NEXT(bytes, i, length, c);
        if (c < 0)
            return false;
    }
    return true;
}

std::optional<std::string> OracleAudioBytes(const std::string& path)
{
    Mp3Analysis analysis;
    analysis.analyse(path);
    if (analysis.path().empty())
        return std::nullopt; // no frame
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto byteAt = [&](std::int64_t at) {
        return static_cast<std::uint32_t>(
            static_cast<unsigned char>(bytes[static_cast<std::size_t>(at)]));
    };
    const auto little32 = [&](std::int64_t at) {
        return byteAt(at) | byteAt(at + 1) << 8 | byteAt(at + 2) << 16 | byteAt(at + 3) << 24;
    };
    const std::int64_t start = analysis.firstFrameOffset();
    auto end = static_cast<std::int64_t>(bytes.size());
    const auto textAt = [&](std::int64_t at, std::string_view text) {
        return at >= 0 && bytes.compare(static_cast<std::size_t>(at), text.size(), text) == 0;
    };
    for (;;) {
        const std::int64_t room = end - start;
        std::int64_t tag = 0;
        if (textAt(end - 128, "TAG") && room >= 128) {
            tag = textAt(end - 355, "TAG+") && room >= 355 ? 355 : 128;
        }
        if (tag == 0 && textAt(end - 32, "APETAGEX")) {
            const std::int64_t size = little32(end - 20);
            const std::int64_t total = size + ((little32(end - 12) >> 31) != 0 ? 32 : 0);
            if (size >= 32 && total <= room)
                tag = total;
        }
        if (tag == 0 && textAt(end - 9, "LYRICS200") && end >= 15) {
            const std::string digits = bytes.substr(static_cast<std::size_t>(end - 15), 6);
            if (std::all_of(digits.begin(), digits.end(),
                            [](char c) { return c >= '0' && c <= '9'; }) &&
                std::stoll(digits) + 15 <= room)
                tag = std::stoll(digits) + 15;
        }
        if (tag == 0 && textAt(end - 10, "3DI")) {
            const std::int64_t size = (byteAt(end - 4) & 0x7F) << 21 |
                                      (byteAt(end - 3) & 0x7F) << 14 |
                                      (byteAt(end - 2) & 0x7F) << 7 | (byteAt(end - 1) & 0x7F);
            if (size + 20 <= room)
                tag = size + 20;
        }
        if (tag == 0)
            break;
        end -= tag;
    }
    if (end <= start)
        return std::nullopt;
    return bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(end - start));
}

std::vector<std::uint32_t> OraclePrint(const std::string& path)
{
    ReadOnlyFile file;
    if (!AudioPrintsAvailable() || !file.open(path))
        return {};
    Mp3Analysis analysis;
    analysis.analyseOpened(file, path);
    std::vector<std::uint32_t> print =
        MakeAudioPrint(file, analysis.audioRange(), analysis.sampleRate()).values;
    return HasEnoughSound(print) ? print : std::vector<std::uint32_t>();
}

bool OracleSameRecording(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b)
{
    if (a.empty() || b.empty())
        return false;
    const AudioMatchRules rules;
    const auto la = static_cast<int>(a.size());
    const auto lb = static_cast<int>(b.size());
    for (int offset = -la + 1; offset < lb; ++offset)
        if (IsSameRecording(AlignPrints(a, b, offset), a.size(), b.size(), rules))
            return true;
    return false;
}

std::string SkipMessage(std::string_view path)
{
    return std::string(path) +
           " has been skipped because it is unrecognizeable. This is probably because it contains "
           "strange characters. Please rename the file or folder if you would like it included "
           "next time you find dupes.";
}

std::string LargeCatalogueQuestion(std::size_t folderCount, std::size_t fileCount)
{
    return "The " + std::to_string(folderCount) + " folder(s) you've selected contains " +
           thousands(fileCount) +
           " files. This is over the recommended amount of 20,000. Please remove some folders "
           "from the list by selecting them and pressing 'Delete' on the keyboard or click "
           "'Clear List'.\r\rYou can still proceed, but the duplicate finding process may take "
           "a long time. Would you like to proceed anyway?";
}

std::string AnalyzingCaption(std::string_view folder)
{
    return std::string(kProduct) + " [Analyzing " + std::string(folder) + " folder]";
}

std::string CriterionCaption(Criterion criterion)
{
    static constexpr const char* names[] = {"Exact Filename", "Exact Filesize", "Similar Filename",
                                            "Exact Tag",      "Similar Tag",    "Exact Audio",
                                            "Similar Audio"};
    return std::string(kProduct) + " [Finding duplicates - " +
           names[static_cast<std::size_t>(criterion)] + "]";
}

std::string ExpectedColourName(Criterion criterion, bool dark)
{
    static constexpr const char* families[] = {"blue",   "red",  "green", "orange",
                                               "purple", "teal", "gold"};
    const std::string family = families[static_cast<std::size_t>(criterion)];
    return dark ? family : "light " + family;
}

std::string ExpectedTypeWord(Criterion criterion)
{
    static constexpr const char* words[] = {"Name",      "Size",  "Close",      "Exact Tag",
                                            "Exact Tag", "Audio", "Close Audio"};
    return words[static_cast<std::size_t>(criterion)];
}

std::string Oracle::path(std::size_t entry) const
{
    return m_catalogue[entry].folder + m_catalogue[entry].name;
}

void Oracle::run(const std::vector<std::string>& folders, SearchHost& host)
{
    m_host = &host;
    m_rowMp3Info.emplace();
    if (folders.empty()) {
        m_host->showMessage(kNoFoldersMessage, kProduct, MessageButtons::Ok);
        closingSteps();
        return;
    }

    m_rows.clear();
    m_rowEntries.clear();
    m_catalogue.clear();
    m_host->resetStop();
    m_host->runStarted();
    m_groupHeadAdded = false;
    m_darkShade = false;
    m_groupCount = 0;
    m_queue.clear();

    for (const std::string& folder : folders) {
        if (m_host->isStopRequested()) {
            closingSteps();
            return;
        }
        scanFolder(folder);
    }
    if (m_host->isStopRequested()) {
        closingSteps();
        return;
    }

    if (m_catalogue.size() > 20000 &&
        m_host->showMessage(LargeCatalogueQuestion(folders.size(), m_catalogue.size()), "Question",
                            MessageButtons::YesNo) == MessageAnswer::No) {
        closingSteps();
        return;
    }

    bool anyTicked = false;
    for (int c = 0; c < kCriterionCount; ++c)
        anyTicked = m_host->isCriterionTicked(static_cast<Criterion>(c)) || anyTicked;
    if (!anyTicked) {
        m_host->showMessage(kNoCriterionMessage, kProduct, MessageButtons::Ok);
        closingSteps();
        return;
    }

    for (int c = 0; c < kCriterionCount; ++c) {
        const auto criterion = static_cast<Criterion>(c);
        if (!m_host->isCriterionTicked(criterion))
            continue;
        m_criterionFirstRow = m_rows.size();
        m_host->setCaption(CriterionCaption(criterion));
        if (!runCriterion(criterion)) {
            closingSteps();
            return;
        }
    }

    if (!m_rows.empty())
        m_host->showResults();
    else
        m_host->showMessage(kNoDupesMessage, "No dupes", MessageButtons::Ok);
    m_host->setCaption(kProduct);
    closingSteps();
}

void Oracle::closingSteps()
{
    m_host->runFinished();
    m_host->setCaption(kProduct);
    m_host->setProgress(0);
}

void Oracle::scanFolder(const std::string& folder)
{
    m_host->setProgress(0);
    if (folder.empty())
        return;
    std::string work = folder;
    if (work.back() == kSeparator)
        work.pop_back();
    if (!IsValidUtf8(work)) {
        m_host->showMessage(SkipMessage(work), "Skip", MessageButtons::Ok);
        return;
    }
    m_host->setCaption(AnalyzingCaption(folder));
    m_queue.push_back(work + kSeparator);
    listSubfolders(work + kSeparator);

    const std::size_t total = m_queue.size();
    while (!m_queue.empty()) {
        if (m_host->isStopRequested())
            return;
        const double share =
            static_cast<double>(total - m_queue.size()) / static_cast<double>(total) * 100.0;
        m_host->setProgress(static_cast<int>(share));
        const std::string current = m_queue.front();
        const std::vector<std::string> names = listFiles(current);
        struct stat folderStat
        {};
        ::stat(current.c_str(), &folderStat);
        if (!names.front().empty()) {
            for (const std::string& name : names) {
                const std::string filePath = current + name;
                OracleEntry entry;
                entry.name = fileNameOfPath(filePath);
                entry.folder = folderOfPath(filePath);
                entry.folderDevice = folderStat.st_dev;
                entry.folderInode = folderStat.st_ino;
                if (m_host->isCriterionTicked(Criterion::ExactFilesize)) {
                    entry.sizeState = querySize(filePath, entry.size)
                                          ? OracleEntry::Size::Known
                                          : OracleEntry::Size::Unreadable;
                }
                m_catalogue.push_back(std::move(entry));
            }
        }
        m_queue.pop_front();
    }
    m_host->setProgress(100);
    m_host->setCaption(kProduct);
}

void Oracle::listSubfolders(const std::string& folder)
{
    std::vector<std::string> remembered;
    for (const std::string& name : listFolder(folder)) {
        if (m_host->isStopRequested())
            return;
        if (name == "." || name == "..")
            continue;
        if (!IsValidUtf8(name)) {
            m_host->showMessage(SkipMessage(folder + name), "Skip", MessageButtons::Ok);
            continue;
        }
        if (entryIs(folder + name, S_IFDIR))
            remembered.push_back(name);
    }
    for (const std::string& name : remembered) {
        const std::string subfolder = folder + name + kSeparator;
        m_queue.push_back(subfolder);
        listSubfolders(subfolder);
    }
}

std::vector<std::string> Oracle::listFiles(const std::string& folder) const
{
    std::vector<std::string> names;
    for (const std::string& name : listFolder(folder)) {
        if (endsWithMp3(name) && IsValidUtf8(name) && entryIs(folder + name, S_IFREG))
            names.push_back(name);
    }
    if (names.empty())
        names.emplace_back();
    return names;
}

bool Oracle::runCriterion(Criterion criterion)
{
    // The flag is read as a criterion begins and as it ends, besides on every passing pair.
    if (m_host->isStopRequested())
        return false;
    const std::size_t n = m_catalogue.size();
    if (criterion == Criterion::ExactTag || criterion == Criterion::SimilarTag) {
        m_titles.assign(n, std::string());
        for (std::size_t k = 0; k < n; ++k)
            m_titles[k] = ReadTagTitle(path(k)).value_or(std::string());
    }
    if (criterion == Criterion::ExactAudio) {
        m_audio.assign(n, std::nullopt);
        for (std::size_t k = 0; k < n; ++k)
            m_audio[k] = OracleAudioBytes(path(k));
    }
    if (criterion == Criterion::SimilarAudio) {
        m_prints.assign(n, {});
        for (std::size_t k = 0; k < n; ++k)
            m_prints[k] = OraclePrint(path(k));
        // Reading the prints and matching them are check points of their own, before the walk.
        if (m_host->isStopRequested())
            return false;
    }
    if (criterion == Criterion::ExactFilesize) {
        for (std::size_t k = 0; k < n; ++k) {
            OracleEntry& entry = m_catalogue[k];
            if (entry.sizeState == OracleEntry::Size::NotRead)
                entry.sizeState = querySize(path(k), entry.size) ? OracleEntry::Size::Known
                                                                 : OracleEntry::Size::Unreadable;
        }
    }

    for (std::size_t i = 0; i < n; ++i) {
        const double share = static_cast<double>(i + 1) / static_cast<double>(n) * 100.0;
        m_host->setProgress(static_cast<int>(share));
        for (std::size_t j = i + 1; j < n; ++j) {
            if (!pairPasses(criterion, i, j))
                continue;
            if (m_host->isStopRequested())
                return false;
            if (!isFileListed(i, m_criterionFirstRow + 1)) {
                m_groupHeadAdded = true;
                addResultRow(i, criterion, m_groupCount++);
            }
            if (!isFileListed(j, m_criterionFirstRow + 1))
                addResultRow(j, criterion, m_rows[*rowOfFile(i, m_criterionFirstRow + 1)].group);
        }
        if (m_groupHeadAdded) {
            m_groupHeadAdded = false;
            m_darkShade = !m_darkShade;
        }
    }
    return !m_host->isStopRequested();
}

bool Oracle::pairPasses(Criterion criterion, std::size_t i, std::size_t j) const
{
    const OracleEntry& a = m_catalogue[i];
    const OracleEntry& b = m_catalogue[j];
    if (sameFile(i, j))
        return false;
    switch (criterion) {
    case Criterion::ExactFilename:
        return a.name == b.name;
    case Criterion::ExactFilesize:
        return a.sizeState == OracleEntry::Size::Known && b.sizeState == OracleEntry::Size::Known &&
               a.size == b.size;
    case Criterion::SimilarFilename:
        return a.name != b.name &&
               OracleWordSimilarity(OracleSplitWords(a.name), OracleSplitWords(b.name)) > 0.9;
    case Criterion::ExactTag:
        return m_titles[i] == m_titles[j] && !m_titles[i].empty() && !m_titles[j].empty() &&
               m_titles[i].front() != '\0' && m_titles[j].front() != '\0';
    case Criterion::SimilarTag:
        return m_titles[i] != m_titles[j] &&
               OracleWordSimilarity(OracleSplitWords(m_titles[i]), OracleSplitWords(m_titles[j])) >
                   0.9;
    case Criterion::ExactAudio:
        return m_audio[i] && m_audio[j] && *m_audio[i] == *m_audio[j];
    case Criterion::SimilarAudio:
        return OracleSameRecording(m_prints[i], m_prints[j]);
    }
    return false;
}

bool Oracle::sameFile(std::size_t a, std::size_t b) const
{
    const OracleEntry& x = m_catalogue[a];
    const OracleEntry& y = m_catalogue[b];
    return x.folderDevice == y.folderDevice && x.folderInode == y.folderInode && x.name == y.name;
}

bool Oracle::isFileListed(std::size_t entry, std::size_t firstRow) const
{
    const std::size_t count = m_rows.size();
    for (std::size_t index = firstRow; index <= count; ++index)
        if (sameFile(m_rowEntries[index - 1], entry))
            return true;
    return false;
}

std::optional<std::size_t> Oracle::rowOfFile(std::size_t entry, std::size_t firstRow) const
{
    for (std::size_t index = firstRow; index <= m_rows.size(); ++index)
        if (sameFile(m_rowEntries[index - 1], entry))
            return index - 1;
    return std::nullopt;
}

void Oracle::addResultRow(std::size_t entry, Criterion criterion, std::uint32_t group)
{
    const std::string path = this->path(entry);
    m_rowEntries.push_back(entry);
    ExpectedRow row;
    row.path = path;
    row.size = FileSize(path).value_or(0);
    m_rowMp3Info->analyse(path);
    row.songLength = m_rowMp3Info->songLength();
    row.bitRate = m_rowMp3Info->bitRate();
    row.criterion = criterion;
    row.colour = ExpectedColourName(criterion, m_darkShade);
    row.group = group;
    m_rows.push_back(std::move(row));
}

} // namespace tunesift::test
