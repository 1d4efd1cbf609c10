#pragma once

// Random folder trees of MP3 files, and random runs over them: the folders searched, the criteria
// ticked, changes of the ticks and of the files while the run goes on. The engine is compared
// with the literal model on them, and runs with the cache with runs without it.

#include "search/engineview.h"
#include "search/host.h"
#include "search/recordinghost.h"
#include "search/testtree.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace tunesift::test {

using Random = std::mt19937;

template <typename T>
const T& pick(Random& random, const std::vector<T>& items)
{
    return items[std::uniform_int_distribution<std::size_t>(0, items.size() - 1)(random)];
}

bool chance(Random& random, double p);

std::size_t between(Random& random, std::size_t low, std::size_t high);

// One step of building a tree; a tree is rebuilt from its steps before every run so that each
// run sees the same files in the same listing order.
struct Step
{
    enum class Kind
    {
        Folder,
        Mp3,
        Bytes,
        Link
    };
    Kind kind = Kind::Folder;
    std::string path; // relative to the tree's root
    Mp3Content content;
    std::string target; // of a link, as written into it
};

struct Tree
{
    std::vector<Step> steps;
    std::vector<std::string> walkableFolders; // relative, "" for the root
    std::vector<std::string> hiddenFolders;
    std::vector<std::string> mp3Files;    // relative paths of the regular .mp3 files
    std::vector<std::string> folderLinks; // relative paths of links to walkable folders
};

// Latin-1 title texts (one byte one character).
extern const std::vector<std::string> kTitles;

// A tree of about fileCount MP3 files in a few folders, with hidden folders, links, loops and
// files that only look like MP3s.
Tree makeRandomTree(Random& random, std::size_t fileCount);

// Builds the tree afresh in dir (emptied first).
void materialise(const TempDir& dir, const Tree& tree);

struct Flip
{
    std::string caption;
    Criterion criterion = Criterion::ExactFilename;
    bool ticked = false;
};

struct Scenario
{
    std::vector<std::string> folders;
    std::array<bool, kCriterionCount> ticked{};
    std::vector<Flip> flips;
    std::vector<std::string> deleteAtFirstCriterion; // relative paths
    std::optional<std::size_t> stopAfterCall;

    void apply(RecordingHost& host, const TempDir& dir) const
    {
        for (int c = 0; c < kCriterionCount; ++c)
            host.setTicked(static_cast<Criterion>(c), ticked[static_cast<std::size_t>(c)]);
        for (const Flip& flip : flips)
            host.tickAfterCaption(flip.caption, flip.criterion, flip.ticked);
        if (!deleteAtFirstCriterion.empty()) {
            host.after(
                [](const HostCall& call, std::size_t) {
                    return call.kind == HostCall::Kind::Caption &&
                           call.text.starts_with("Tunesift [Finding duplicates");
                },
                [this, &dir](RecordingHost&) {
                    for (const std::string& path : deleteAtFirstCriterion)
                        RemovePath(dir / path);
                });
        }
        if (stopAfterCall)
            host.stopAfterCall(*stopAfterCall);
    }

    std::string describe() const
    {
        std::ostringstream out;
        out << "folders:";
        for (const std::string& folder : folders)
            out << " \"" << folder << '"';
        out << "\nticked:";
        for (int c = 0; c < kCriterionCount; ++c)
            if (ticked[static_cast<std::size_t>(c)])
                out << ' ' << static_cast<Criterion>(c);
        for (const Flip& flip : flips)
            out << "\nafter \"" << flip.caption << "\" set " << flip.criterion << " to "
                << flip.ticked;
        for (const std::string& path : deleteAtFirstCriterion)
            out << "\ndelete " << path << " at the first criterion";
        if (stopAfterCall)
            out << "\nstop after call " << *stopAfterCall;
        return out.str();
    }
};

Scenario makeScenario(Random& random, const TempDir& dir, const Tree& tree);

template <typename T>
std::string firstDifference(const std::vector<T>& actual, const std::vector<T>& expected)
{
    std::ostringstream out;
    const std::size_t common = std::min(actual.size(), expected.size());
    std::size_t k = 0;
    while (k < common && actual[k] == expected[k])
        ++k;
    out << "engine has " << actual.size() << ", model " << expected.size()
        << "; first difference at " << k << '\n';
    for (std::size_t i = k >= 3 ? k - 3 : 0; i < std::min(common, k + 4); ++i)
        out << "  [" << i << "] engine " << actual[i] << " | model " << expected[i] << '\n';
    for (std::size_t i = common; i < std::min(actual.size(), common + 4); ++i)
        out << "  [" << i << "] engine " << actual[i] << '\n';
    for (std::size_t i = common; i < std::min(expected.size(), common + 4); ++i)
        out << "  [" << i << "] model " << expected[i] << '\n';
    return out.str();
}

// One item a line, indented.
std::string listing(const std::vector<std::string>& items);

} // namespace tunesift::test
