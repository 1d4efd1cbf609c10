// tunesift-cli: runs one duplicate search exactly as the find button does and prints the rows.

#include "cache/defaultcache.h"
#include "cli/clihost.h"
#include "cli/options.h"
#include "search/progress.h"
#include "search/resultlist.h"
#include "search/rowtext.h"
#include "search/scan.h"
#include "search/searchrun.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>
#endif

namespace {

using namespace tunesift;

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// The arguments after the program's name, as UTF-8. Windows passes main() its text in the ANSI
// code page, which cannot hold every file name; the wide command line can.
std::vector<std::string> utf8Arguments(int argc, char** argv)
{
#ifdef _WIN32
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        std::vector<std::string> arguments;
        for (int k = 1; k < count; ++k) {
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
    return std::vector<std::string>(argc > 0 ? argv + 1 : argv, argv + argc);
}

int usageError(const std::string& problem)
{
    std::fprintf(stderr, "tunesift-cli: %s\n\n%s", problem.c_str(), kCliUsage);
    return kExitUsage;
}

int stopped()
{
    std::fprintf(stderr, "tunesift-cli: stopped\n");
    return kExitFailure;
}

// Each format writes a row as one line, without its line end.
using RowWriter = void (*)(std::string& out, const ResultList& results, std::size_t position);

void writeTsvRow(std::string& out, const ResultList& results, std::size_t position)
{
    AppendTsvRowFields(out, results, position);
}

void writeJsonRow(std::string& out, const ResultList& results, std::size_t position)
{
    AppendJsonRowFields(out, results, position);
    out += '}';
}

RowWriter rowWriter(RowFormat format)
{
    return format == RowFormat::Jsonl ? writeJsonRow : writeTsvRow;
}

// False when the rows could not all be written (a full disk, a closed pipe).
bool printRows(const ResultList& results, RowWriter writeRow)
{
    std::string out;
    out.reserve(1 << 20);
    for (std::size_t k = 0; k < results.size(); ++k) {
        writeRow(out, results, k);
        out += '\n';
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

// The scan of every folder, with nothing compared; prints the number of files catalogued.
int printCatalogueCount(const std::vector<std::string>& folders, CliHost& host)
{
    SearchSession session;
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
        std::fprintf(stderr, "tunesift-cli: the scan could not be completed: %s\n", error.what());
        return kExitFailure;
    }
    if (host.stopped())
        return stopped();
    std::printf("%zu\n", session.catalogue().count());
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

// The search, then its rows in the format asked for. cache: the one the host reads, closed here
// when the run is stopped.
int searchAndPrintRows(const CliOptions& options, CliHost& host, std::unique_ptr<FileCache>& cache)
{
    SearchSession session;
    const bool completed = RunSearch(session, options.folders, host);
    host.endWorkLine();
    if (!completed)
        return kExitFailure; // the run has said why on standard error
    if (host.stopped()) {
        const int status = stopped();
        // What the run read is in the cache, which closes now. The catalogue and the rows go with
        // the process: freeing a million files' names and titles one by one took a fifth of a
        // second, which whoever pressed Ctrl-C would wait for.
        cache.reset();
        std::fflush(nullptr);
        std::_Exit(status);
    }
    if (host.resultsShown() && !printRows(session.results(), rowWriter(options.format))) {
        std::fprintf(stderr, "tunesift-cli: could not write the rows: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    return kExitOk;
}

} // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Rows end in a bare line feed on every system, so they compare byte for byte.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    const ParsedArguments parsed = ParseArguments(utf8Arguments(argc, argv));
    if (parsed.outcome == ParsedArguments::Outcome::Help) {
        std::fputs(kCliUsage, stdout);
        return kExitOk;
    }
    if (parsed.outcome == ParsedArguments::Outcome::UsageError)
        return usageError(parsed.problem);
    const CliOptions& options = parsed.options;

    StopOnInterrupt();
    // A cache that cannot be used is said once; the rows are the same without it.
    std::unique_ptr<FileCache> cache;
    if (options.useCache && !options.catalogueOnly)
        cache = OpenDefaultFileCache([](const std::string& text) {
            std::fprintf(stderr, "tunesift-cli: %s\n", text.c_str());
        });
    CliHost host(options, cache.get());
    return options.catalogueOnly ? printCatalogueCount(options.folders, host)
                                 : searchAndPrintRows(options, host, cache);
}
