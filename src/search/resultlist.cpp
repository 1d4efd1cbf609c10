#include "search/resultlist.h"

#include "mp3/mp3analysis.h"
#include "search/catalogue.h"
#include "search/rowtext.h"

#include <algorithm>
#include <array>

namespace tunesift {

std::string_view ColorGroupName(ColorGroup group)
{
    static constexpr std::array<std::string_view, 16> kNames = {
        "",      "white",       "blue",   "light blue",   "red",    "light red",
        "green", "light green", "orange", "light orange", "purple", "light purple",
        "teal",  "light teal",  "gold",   "light gold",
    };
    return kNames[static_cast<std::size_t>(group)];
}

ColorGroup ColorGroupOf(Criterion criterion, bool dark)
{
    switch (criterion) {
    case Criterion::ExactFilename:
        return dark ? ColorGroup::Blue : ColorGroup::LightBlue;
    case Criterion::ExactFilesize:
        return dark ? ColorGroup::Red : ColorGroup::LightRed;
    case Criterion::SimilarFilename:
        return dark ? ColorGroup::Green : ColorGroup::LightGreen;
    case Criterion::ExactTag:
        return dark ? ColorGroup::Orange : ColorGroup::LightOrange;
    case Criterion::SimilarTag:
        return dark ? ColorGroup::Purple : ColorGroup::LightPurple;
    case Criterion::ExactAudio:
        return dark ? ColorGroup::Teal : ColorGroup::LightTeal;
    case Criterion::SimilarAudio:
        return dark ? ColorGroup::Gold : ColorGroup::LightGold;
    }
    return ColorGroup::None;
}

std::string_view MatchTypeWord(Criterion criterion)
{
    switch (criterion) {
    case Criterion::ExactFilename:
        return "Name";
    case Criterion::ExactFilesize:
        return "Size";
    case Criterion::SimilarFilename:
        return "Close";
    case Criterion::ExactTag:
    case Criterion::SimilarTag:
        // Similar Tag rows carry the same word; their purple shades tell them apart.
        return "Exact Tag";
    case Criterion::ExactAudio:
        return "Audio";
    case Criterion::SimilarAudio:
        return "Close Audio";
    }
    return {};
}

Evidence EvidenceOf(Criterion criterion)
{
    switch (criterion) {
    case Criterion::ExactAudio:
    case Criterion::SimilarAudio: // every row of a group matched its first row's sound
        return Evidence::SameRecording;
    case Criterion::ExactFilename:
    case Criterion::ExactFilesize:
    case Criterion::SimilarFilename:
    case Criterion::ExactTag:
    case Criterion::SimilarTag:
        return Evidence::Resemblance;
    }
    return Evidence::Resemblance;
}

void ResultList::clear()
{
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_colors.clear();
    m_colors.shrink_to_fit();
}

std::string ResultList::path(std::size_t position) const
{
    return m_catalogue->path(m_rows[position].entry);
}

std::string ResultList::sizeText(std::size_t position, std::string_view thousandsSeparator,
                                 std::string_view decimalSeparator) const
{
    return FormatFileSize(m_rows[position].size, thousandsSeparator, decimalSeparator);
}

std::string ResultList::lengthText(std::size_t position) const
{
    return FormatSongLength(m_rows[position].songLength);
}

std::string ResultList::bitRateText(std::size_t position) const
{
    return std::to_string(m_rows[position].bitRate);
}

std::string_view ResultList::typeText(std::size_t position) const
{
    return MatchTypeWord(m_rows[position].criterion);
}

bool ResultList::append(const ResultRow& row, ColorGroup color)
{
    if (full())
        return false;
    m_rows.push_back(row);
    m_rows.back().written = static_cast<std::uint32_t>(m_rows.size() - 1);
    if (m_colors.size() < m_rows.size())
        m_colors.resize(m_rows.size(), ColorGroup::None);
    m_colors[m_rows.size() - 1] = color;
    return true;
}

void ResultList::removeRows(const std::vector<std::size_t>& ascendingPositions)
{
    if (ascendingPositions.empty())
        return;
    std::size_t write = 0;
    std::size_t next = 0;
    for (std::size_t read = 0; read < m_rows.size(); ++read) {
        while (next < ascendingPositions.size() && ascendingPositions[next] < read)
            ++next;
        if (next < ascendingPositions.size() && ascendingPositions[next] == read)
            continue;
        if (write != read)
            m_rows[write] = m_rows[read];
        ++write;
    }
    m_rows.resize(write);
}

void ResultList::insertRows(const std::vector<std::pair<std::size_t, ResultRow>>& ascendingRows)
{
    if (ascendingRows.empty())
        return;
    std::vector<ResultRow> merged;
    merged.reserve(m_rows.size() + ascendingRows.size());
    std::size_t old = 0;
    for (const auto& [position, row] : ascendingRows) {
        while (merged.size() < position && old < m_rows.size())
            merged.push_back(m_rows[old++]);
        merged.push_back(row);
    }
    merged.insert(merged.end(), m_rows.begin() + static_cast<std::ptrdiff_t>(old), m_rows.end());
    m_rows = std::move(merged);
    if (m_colors.size() < m_rows.size())
        m_colors.resize(m_rows.size(), ColorGroup::None);
}

void ResultList::reorder(const std::vector<std::uint32_t>& order)
{
    if (order.size() != m_rows.size())
        return;
    bool same = true;
    for (std::size_t k = 0; k < order.size() && same; ++k)
        same = order[k] == k;
    if (same)
        return;
    std::vector<ResultRow> rows(m_rows.size());
    std::vector<ColorGroup> colors(m_rows.size());
    for (std::size_t k = 0; k < order.size(); ++k) {
        rows[k] = m_rows[order[k]];
        colors[k] = color(order[k]);
    }
    m_rows = std::move(rows);
    std::copy(colors.begin(), colors.end(), m_colors.begin());
}

void ResultList::resetColors(ColorGroup group)
{
    for (ColorGroup& color : m_colors)
        color = group;
}

} // namespace tunesift
