// tunesift-cli: runs one duplicate search exactly as the find button does and prints the rows.

#include "cache/sqlitecache.h"
#include "mp3/audioprint.h"
#include "mp3/id3v2title.h"
#include "search/host.h"
#include "search/progress.h"
#include "search/resultlist.h"
#include "search/rowtext.h"
#include "search/scan.h"
#include "search/searchrun.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace {

using namespace tunesift;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

volatile std::sig_atomic_t g_interrupted = 0;

// The first Ctrl-C stops the run at its next check point; the second ends the program at once
// (the default action), even where it waits, say on a full pipe.
extern "C" void onInterrupt(int)
{
    g_interrupted = 1;
    std::signal(SIGINT, SIG_DFL);
}

const char* const kUsage =
    "Usage: tunesift-cli [OPTION]... FOLDER...\n"
    "Finds duplicate MP3 files below the FOLDERs, as Tunesift's find button does, and prints\n"
    "one line per result row.\n"
    "\n"
    "Criteria (at least one):\n"
    "  --exact-filename     files with exactly the same name\n"
    "  --exact-filesize     files with exactly the same size\n"
    "  --similar-filename   names that share more than 90% of their words\n"
    "  --exact-tag          files with the same ID3v1 title\n"
    "  --similar-tag        ID3v1 titles that share more than 90% of their words\n"
    "  --exact-audio        the same audio frames, whatever the tags around them\n"
    "  --similar-audio      the same recording in any encoding: the sound of the first two\n"
    "                       minutes compared (refused by a build without libmpg123 and\n"
    "                       Chromaprint)\n"
    "\n"
    "Reading:\n"
    "  --id3v2-titles       the tag criteria compare the title of a leading ID3v2 tag where\n"
    "                       a file has one, and its ID3v1 title otherwise\n"
    "  --no-cache           read every file; by default what earlier runs read of unchanged\n"
    "                       files is taken from the cache in tunesift/ of the user's cache\n"
    "                       folder\n"
    "\n"
    "Output:\n"
    "  --format tsv         (default) six TAB-separated fields per row: path, size text,\n"
    "                       length, bit rate, match type, colour group; in the path a\n"
    "                       backslash, TAB, LF and CR are written as \\\\, \\t, \\n and \\r\n"
    "  --format jsonl       one JSON object per row with the keys path, size (bytes),\n"
    "                       sizeText, length, bitrate, type, group\n"
    "  --catalogue-only     scan only and print the number of MP3 files catalogued\n"
    "  --progress           show what the search does on standard error even when it is not\n"
    "                       a terminal (one line each time); by default it is shown only on\n"
    "                       a terminal\n"
    "  --quiet              never show what the search does\n"
    "  --help               show this text\n"
    "\n"
    "The FOLDERs are scanned in the order given, each exactly as written. Rows go to standard\n"
    "output in the order the search wrote them; the search's messages go to standard error.\n"
    "Ctrl-C stops the search at its next check point; a second Ctrl-C ends the program at\n"
    "once.\n"
    "\n"
    "Exit status: 0 when the search ran to its end (with or without rows), 2 for a usage\n"
    "error, 1 for any other failure (a search that could not be completed, or one stopped by\n"
    "Ctrl-C).\n";

// The width of the terminal standard error writes to; 0 when it cannot be told.
std::size_t terminalWidth()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return static_cast<std::size_t>(info.srWindow.Right - info.srWindow.Left + 1);
#else
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0)
        return size.ws_col;
#endif
    return 0;
}

// Answers the run from the command line: the criteria are those named for the whole run, the
// stop flag is Ctrl-C, messages go to standard error and the large-catalogue question is
// answered with yes.
class CliHost : public SearchHost
{
public:
    // How the search's work is shown on standard error: not at all, as lines, or on a terminal
    // as one line written over and over.
    enum class WorkLine
    {
        None,
        Lines,
        Terminal
    };

    CliHost(std::array<bool, kCriterionCount> criteria, bool id3v2Titles, FileCache* cache,
            WorkLine workLine)
        : m_criteria(criteria), m_id3v2Titles(id3v2Titles), m_cache(cache), m_workLine(workLine)
    {}

    bool readsID3v2Titles() override { return m_id3v2Titles; }
    FileCache* fileCache() override { return m_cache; }

    bool isCriterionTicked(Criterion criterion) override
    {
        return m_criteria[static_cast<std::size_t>(criterion)];
    }
    bool isStopRequested() override
    {
        if (g_interrupted)
            m_stopped = true;
        return m_stopped;
    }
    void resetStop() override {}
    void setCaption(const std::string&) override {}
    void setProgress(int) override {}
    void showWork(const RunProgress& progress) override
    {
        std::string text = ProgressText(progress);
        if (m_workLine == WorkLine::Lines) {
            std::fprintf(stderr, "%s\n", text.c_str());
        } else if (m_workLine == WorkLine::Terminal) {
            // A line longer than the terminal is wide would wrap, and the next one would be
            // written under it rather than over it.
            const std::size_t width = terminalWidth();
            if (width > 1 && text.size() > width - 1)
                text.resize(width - 1);
            // Spaces cover what is left of a longer line before.
            const std::size_t cover =
                m_workLineLength > text.size() ? m_workLineLength - text.size() : 0;
            std::fprintf(stderr, "\r%s%*s", text.c_str(), static_cast<int>(cover), "");
            if (cover > 0)
                std::fprintf(stderr, "\r%s", text.c_str());
            std::fflush(stderr);
            m_workLineLength = text.size();
        }
    }
    // Takes the work line off the terminal before anything else is written there.
    void endWorkLine()
    {
        if (m_workLineLength == 0)
            return;
        std::fprintf(stderr, "\r%*s\r", static_cast<int>(m_workLineLength), "");
        std::fflush(stderr);
        m_workLineLength = 0;
    }
    MessageAnswer showMessage(const std::string& text, const std::string& title,
                              MessageButtons buttons) override
    {
        if (buttons == MessageButtons::YesNo)
            return MessageAnswer::Yes;
        endWorkLine();
        std::string line = title + ": " + text;
        for (char& c : line)
            if (c == '\r')
                c = '\n';
        std::fprintf(stderr, "%s\n", line.c_str());
        return MessageAnswer::Ok;
    }
    void showResults() override { m_resultsShown = true; }

    bool stopped() const { return m_stopped; }
    bool resultsShown() const { return m_resultsShown; }

private:
    std::array<bool, kCriterionCount> m_criteria;
    bool m_id3v2Titles;
    FileCache* m_cache;
    WorkLine m_workLine;
    std::size_t m_workLineLength = 0; // of the line now on the terminal
    bool m_stopped = false;
    bool m_resultsShown = false;
};

// False when the rows could not all be written (a full disk, a closed pipe).
bool printRows(const ResultList& results, bool jsonl)
{
    std::string out;
    out.reserve(1 << 20);
    for (std::size_t k = 0; k < results.size(); ++k) {
        if (jsonl) {
            AppendJsonRowFields(out, results, k);
            out += "}\n";
        } else {
            AppendTsvRowFields(out, results, k);
            out += '\n';
        }
        if (out.size() > (1 << 20) - 4096) {
            if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size())
                return false;
            out.clear();
        }
    }
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size())
        return false;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

// The arguments as UTF-8. Windows passes main() its text in the ANSI code page, which cannot hold
// every file name; the wide command line can.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
#ifdef _WIN32
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int k = 0; k < count; ++k) {
            const int size =
                WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, nullptr, 0, nullptr, nullptr);
            std::string text(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
            WideCharToMultiByte(CP_UTF8, 0, wide[k], -1, text.data(), size, nullptr, nullptr);
            text.pop_back(); // the terminating NUL
            arguments.push_back(std::move(text));
        }
        LocalFree(wide);
        return arguments;
    }
#endif
    return std::vector<std::string>(argv, argv + argc);
}

int usageError(const std::string& problem)
{
    std::fprintf(stderr, "tunesift-cli: %s\n\n%s", problem.c_str(), kUsage);
    return kExitUsage;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Rows end in a bare line feed on every system, so they compare byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const std::vector<std::string> args = utf8Arguments(argc, argv);
    std::array<bool, kCriterionCount> criteria{};
    bool jsonl = false;
    bool catalogueOnly = false;
    bool id3v2Titles = false;
    bool useCache = true;
    bool optionsEnded = false;
#ifdef _WIN32
    const bool stderrIsTerminal = _isatty(_fileno(stderr)) != 0;
#else
    const bool stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
#endif
    CliHost::WorkLine workLine =
        stderrIsTerminal ? CliHost::WorkLine::Terminal : CliHost::WorkLine::None;
    std::vector<std::string> folders;

    for (std::size_t k = 1; k < args.size(); ++k) {
        const std::string_view arg = args[k];
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
            folders.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--exact-filename") {
            criteria[static_cast<std::size_t>(Criterion::ExactFilename)] = true;
        } else if (arg == "--exact-filesize") {
            criteria[static_cast<std::size_t>(Criterion::ExactFilesize)] = true;
        } else if (arg == "--similar-filename") {
            criteria[static_cast<std::size_t>(Criterion::SimilarFilename)] = true;
        } else if (arg == "--exact-tag") {
            criteria[static_cast<std::size_t>(Criterion::ExactTag)] = true;
        } else if (arg == "--similar-tag") {
            criteria[static_cast<std::size_t>(Criterion::SimilarTag)] = true;
        } else if (arg == "--id3v2-titles") {
            if (!ID3v2TitlesAvailable())
                return usageError("--id3v2-titles: this build reads no ID3v2 tags");
            id3v2Titles = true;
        } else if (arg == "--no-cache") {
            useCache = false;
        } else if (arg == "--exact-audio") {
            criteria[static_cast<std::size_t>(Criterion::ExactAudio)] = true;
        } else if (arg == "--similar-audio") {
            if (!AudioPrintsAvailable())
                return usageError("--similar-audio: this build decodes no audio");
            criteria[static_cast<std::size_t>(Criterion::SimilarAudio)] = true;
        } else if (arg == "--progress") {
            workLine = stderrIsTerminal ? CliHost::WorkLine::Terminal : CliHost::WorkLine::Lines;
        } else if (arg == "--quiet") {
            workLine = CliHost::WorkLine::None;
        } else if (arg == "--catalogue-only") {
            catalogueOnly = true;
        } else if (arg == "--format" || arg.starts_with("--format=")) {
            std::string_view value;
            if (arg == "--format") {
                if (k + 1 >= args.size())
                    return usageError("--format needs a value: tsv or jsonl");
                value = args[++k];
            } else {
                value = arg.substr(std::strlen("--format="));
            }
            if (value == "tsv")
                jsonl = false;
            else if (value == "jsonl")
                jsonl = true;
            else
                return usageError("unknown format '" + std::string(value) + "' (use tsv or jsonl)");
        } else {
            return usageError("unknown option '" + std::string(arg) + "'");
        }
    }

    if (folders.empty())
        return usageError("no folder given");
    bool anyCriterion = false;
    for (const bool ticked : criteria)
        anyCriterion = anyCriterion || ticked;
    if (!anyCriterion && !catalogueOnly)
        return usageError("no criterion given");

    std::signal(SIGINT, onInterrupt);

    // A cache that cannot be used is said once; the rows are the same without it.
    std::unique_ptr<SqliteFileCache> cache;
    if (useCache && !catalogueOnly) {
        const auto report = [](const std::string& text) {
            std::fprintf(stderr, "tunesift-cli: %s\n", text.c_str());
        };
        if (const std::optional<std::filesystem::path> file = DefaultCacheFile())
            cache = std::make_unique<SqliteFileCache>(*file, report);
        else
            report("No cache folder is known (HOME is not set); the search goes on without a "
                   "cache.");
    }

    SearchSession session;
    CliHost host(criteria, id3v2Titles, cache && cache->usable() ? cache.get() : nullptr, workLine);
    if (catalogueOnly) {
        // The scan of every folder, with nothing compared.
        try {
            ProgressMeter meter(host);
            meter.beginScan();
            FolderScan scan(session.catalogue(), host);
            scan.setMeter(&meter);
            for (const std::string& folder : folders)
                if (!scan.scanFolder(folder))
                    break;
            host.endWorkLine();
        } catch (const std::exception& error) {
            host.endWorkLine();
            std::fprintf(stderr, "tunesift-cli: the scan could not be completed: %s\n",
                         error.what());
            return kExitFailure;
        }
        if (host.stopped()) {
            std::fprintf(stderr, "tunesift-cli: stopped\n");
            return kExitFailure;
        }
        std::printf("%zu\n", session.catalogue().count());
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
    }

    const bool completed = RunSearch(session, folders, host);
    host.endWorkLine();
    if (!completed)
        return kExitFailure; // the run has said why on standard error
    if (host.stopped()) {
        std::fprintf(stderr, "tunesift-cli: stopped\n");
        // What the run read is in the cache, which closes now. The catalogue and the rows go with
        // the process: freeing a million files' names and titles one by one took a fifth of a
        // second, which whoever pressed Ctrl-C would wait for.
        cache.reset();
        std::fflush(nullptr);
        std::_Exit(kExitFailure);
    }
    if (host.resultsShown() && !printRows(session.results(), jsonl)) {
        std::fprintf(stderr, "tunesift-cli: could not write the rows: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}
