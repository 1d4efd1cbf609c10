#include "cli/options.h"

#include "mp3/audioprint.h"
#include "mp3/id3v2title.h"

#include <cstddef>

namespace tunesift {

const char* const kCliUsage =
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

namespace {

using Outcome = ParsedArguments::Outcome;

// Takes the option, with its value where it has one; a usage error is set in the result.
using Apply = void (*)(ParsedArguments& parsed, std::string_view value);

struct Option
{
    std::string_view name;
    std::string_view alias;  // a short form, or empty
    std::string_view values; // the values it takes, as the usage error names them; empty: none
    Apply apply;
};

void refuse(ParsedArguments& parsed, std::string problem)
{
    parsed.outcome = Outcome::UsageError;
    parsed.problem = std::move(problem);
}

template <Criterion criterion>
void tick(ParsedArguments& parsed, std::string_view)
{
    parsed.options.criteria[static_cast<std::size_t>(criterion)] = true;
}

void showHelp(ParsedArguments& parsed, std::string_view)
{
    parsed.outcome = Outcome::Help;
}

void readId3v2Titles(ParsedArguments& parsed, std::string_view)
{
    if (!ID3v2TitlesAvailable())
        return refuse(parsed, "--id3v2-titles: this build reads no ID3v2 tags");
    parsed.options.id3v2Titles = true;
}

void tickSimilarAudio(ParsedArguments& parsed, std::string_view value)
{
    if (!AudioPrintsAvailable())
        return refuse(parsed, "--similar-audio: this build decodes no audio");
    tick<Criterion::SimilarAudio>(parsed, value);
}

void skipCache(ParsedArguments& parsed, std::string_view)
{
    parsed.options.useCache = false;
}

void showWork(ParsedArguments& parsed, std::string_view)
{
    parsed.options.work = WorkDisplay::Always;
}

void hideWork(ParsedArguments& parsed, std::string_view)
{
    parsed.options.work = WorkDisplay::Never;
}

void catalogueOnly(ParsedArguments& parsed, std::string_view)
{
    parsed.options.catalogueOnly = true;
}

void chooseFormat(ParsedArguments& parsed, std::string_view value)
{
    if (value == "tsv")
        parsed.options.format = RowFormat::Tsv;
    else if (value == "jsonl")
        parsed.options.format = RowFormat::Jsonl;
    else
        refuse(parsed, "unknown format '" + std::string(value) + "' (use tsv or jsonl)");
}

// clang-format off
constexpr Option kOptions[] = {
    // name                 alias  values          apply
    {"--help",              "-h",  {},             showHelp},
    {"--exact-filename",    {},    {},             tick<Criterion::ExactFilename>},
    {"--exact-filesize",    {},    {},             tick<Criterion::ExactFilesize>},
    {"--similar-filename",  {},    {},             tick<Criterion::SimilarFilename>},
    {"--exact-tag",         {},    {},             tick<Criterion::ExactTag>},
    {"--similar-tag",       {},    {},             tick<Criterion::SimilarTag>},
    {"--id3v2-titles",      {},    {},             readId3v2Titles},
    {"--no-cache",          {},    {},             skipCache},
    {"--exact-audio",       {},    {},             tick<Criterion::ExactAudio>},
    {"--similar-audio",     {},    {},             tickSimilarAudio},
    {"--progress",          {},    {},             showWork},
    {"--quiet",             {},    {},             hideWork},
    {"--catalogue-only",    {},    {},             catalogueOnly},
    {"--format",            {},    "tsv or jsonl", chooseFormat},
};
// clang-format on

const Option* findOption(std::string_view name)
{
    for (const Option& option : kOptions)
        if (name == option.name || (!option.alias.empty() && name == option.alias))
            return &option;
    return nullptr;
}

} // namespace

ParsedArguments ParseArguments(const std::vector<std::string>& arguments)
{
    ParsedArguments parsed;
    bool optionsEnded = false;
    for (std::size_t k = 0; k < arguments.size() && parsed.outcome == Outcome::Run; ++k) {
        const std::string_view argument = arguments[k];
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            parsed.options.folders.emplace_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        // An option with a value takes it as the next argument or after "=".
        const std::size_t equals = argument.find('=');
        const Option* option = findOption(argument.substr(0, equals));
        if (option == nullptr || (equals != std::string_view::npos && option->values.empty())) {
            refuse(parsed, "unknown option '" + std::string(argument) + "'");
            break;
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
        } else if (!option->values.empty()) {
            if (k + 1 >= arguments.size()) {
                refuse(parsed, std::string(option->name) +
                                   " needs a value: " + std::string(option->values));
                break;
            }
            value = arguments[++k];
        }
        option->apply(parsed, value);
    }
    if (parsed.outcome != Outcome::Run)
        return parsed;
    if (parsed.options.folders.empty()) {
        refuse(parsed, "no folder given");
    } else if (!parsed.options.catalogueOnly) {
        bool anyCriterion = false;
        for (const bool ticked : parsed.options.criteria)
            anyCriterion = anyCriterion || ticked;
        if (!anyCriterion)
            refuse(parsed, "no criterion given");
    }
    return parsed;
}

std::vector<std::string_view> CliOptionNames()
{
    std::vector<std::string_view> names;
    for (const Option& option : kOptions)
        names.push_back(option.name);
    return names;
}

} // namespace tunesift
