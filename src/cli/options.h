#pragma once

// The options of tunesift-cli: one table names every option and what it sets.

#include "search/host.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace tunesift {

// The help text, written for --help and after every usage error.
extern const char* const kCliUsage;

enum class RowFormat
{
    Tsv,
    Jsonl
};

// Whether the search's work is shown on standard error: by default only on a terminal.
enum class WorkDisplay
{
    Default,
    Always,
    Never
};

struct CliOptions
{
    std::array<bool, kCriterionCount> criteria{};
    bool id3v2Titles = false;
    bool useCache = true;
    bool catalogueOnly = false;
    RowFormat format = RowFormat::Tsv;
    WorkDisplay work = WorkDisplay::Default;
    std::vector<std::string> folders; // in the order given, each exactly as written
};

struct ParsedArguments
{
    enum class Outcome
    {
        Run,
        Help,
        UsageError
    };
    Outcome outcome = Outcome::Run;
    std::string problem; // what was wrong, for a usage error
    CliOptions options;
};

// Reads the arguments after the program's name, in order. The first option that cannot be taken
// ends the reading with a usage error, --help with the help; an argument that does not begin with
// "-" (or is "-" alone, or follows "--") is a folder.
ParsedArguments ParseArguments(const std::vector<std::string>& arguments);

// The names of every option in the table, "--format" once.
std::vector<std::string_view> CliOptionNames();

} // namespace tunesift
