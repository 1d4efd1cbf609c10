#pragma once

// What the end-to-end tests of tunesift-cli share: running the built program, reading its
// output, and the model's rows for the same run.

#include "mp3/mp3testutil.h"
#include "search/oracle.h"
#include "search/recordinghost.h"
#include "search/rowtext.h"
#include "search/testtree.h"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace tunesift::test {

struct CliResult
{
    bool exited = false; // false when a signal ended it
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string readText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<char*> argv(std::vector<std::string>& args)
{
    std::vector<char*> result;
    for (std::string& arg : args)
        result.push_back(arg.data());
    result.push_back(nullptr);
    return result;
}

// Runs the program to its end with standard output going to stdoutPath and standard error to
// stderrPath (each a file of its own when empty, read back into the result).
inline CliResult runCli(std::vector<std::string> args, const std::string& stdoutPath = {},
                        const std::string& stderrPath = {})
{
    TempDir io;
    const std::string outPath = stdoutPath.empty() ? io / "out" : stdoutPath;
    const std::string errPath = stderrPath.empty() ? io / "err" : stderrPath;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    args.insert(args.begin(), TUNESIFT_CLI_PATH);
    std::vector<char*> arguments = argv(args);
    pid_t pid = 0;
    CliResult result;
    const int spawned =
        posix_spawn(&pid, TUNESIFT_CLI_PATH, &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << TUNESIFT_CLI_PATH;
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    if (stdoutPath.empty())
        result.out = readText(outPath);
    if (stderrPath.empty())
        result.err = readText(errPath);
    return result;
}

inline std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

inline std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t p = line.find(separator); p != std::string::npos;
         p = line.find(separator, start)) {
        fields.push_back(line.substr(start, p - start));
        start = p + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

inline const std::map<std::string, Criterion> kCriterionOptions = {
    {"--exact-filename", Criterion::ExactFilename},
    {"--exact-filesize", Criterion::ExactFilesize},
    {"--similar-filename", Criterion::SimilarFilename},
    {"--exact-tag", Criterion::ExactTag},
    {"--similar-tag", Criterion::SimilarTag},
    {"--exact-audio", Criterion::ExactAudio},
    {"--similar-audio", Criterion::SimilarAudio},
};

// The model's rows for the same folders with the same boxes ticked for the whole run.
inline std::vector<ExpectedRow> modelRows(const std::vector<std::string>& options,
                                          const std::vector<std::string>& folders)
{
    RecordingHost host;
    for (const std::string& option : options)
        if (kCriterionOptions.count(option))
            host.setTicked(kCriterionOptions.at(option), true);
    Oracle model;
    model.run(folders, host);
    return model.rows();
}

inline std::string tsvLine(const ExpectedRow& row)
{
    return row.path + '\t' + FormatFileSize(row.size, ",", ".") + '\t' +
           FormatSongLength(row.songLength) + '\t' + std::to_string(row.bitRate) + '\t' +
           ExpectedTypeWord(row.criterion) + '\t' + row.colour;
}

inline std::vector<std::string> concat(std::vector<std::string> a,
                                       const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Mp3Content mp3(std::size_t bodyBytes, std::optional<std::string> rawTitle = {})
{
    Mp3Content content;
    content.bodyBytes = bodyBytes;
    content.rawTitle = std::move(rawTitle);
    return content;
}

} // namespace tunesift::test
