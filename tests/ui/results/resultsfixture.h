#pragma once

#include "search/resultlist.h"
#include "search/searchrun.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace tunesift::test {

// What the analysis found for a row's file.
struct RowFacts
{
    std::int32_t bitRate = 128;
    std::int64_t songLength = 125;
    std::int64_t size = 4000;
};

// Writes result rows straight into a session, the way a run leaves them: rows of exactly the same
// path share one path identity, whatever their folder entry.
class ResultsFixture
{
public:
    explicit ResultsFixture(SearchSession& session) : m_session(session) {}

    // Appends a row for the full path; returns its position. Without a group number the row
    // joins the last row's group when it has the same shade and criterion, as a run's rows do.
    std::size_t addRow(const std::string& path, ColorGroup group = ColorGroup::LightBlue,
                       Criterion criterion = Criterion::ExactFilename, RowFacts facts = {},
                       std::optional<std::uint32_t> groupNumber = std::nullopt);
    // Appends a row of the given group, unshaded; returns its position.
    std::size_t addRowIn(std::uint32_t group, const std::string& path, Criterion criterion,
                         RowFacts facts = {});
    void clear();

private:
    SearchSession& m_session;
    std::map<std::string, std::uint32_t> m_pathIds;
};

} // namespace tunesift::test
