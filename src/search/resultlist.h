#pragma once

#include "search/host.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tunesift {

class Catalogue;

// Colour-group names of the rows. None is the empty name and White the name the delete command
// writes; neither is in the colour table, so both leave a row unshaded.
enum class ColorGroup : std::uint8_t
{
    None,
    White,
    Blue,
    LightBlue,
    Red,
    LightRed,
    Green,
    LightGreen,
    Orange,
    LightOrange,
    Purple,
    LightPurple,
    Teal,
    LightTeal,
    Gold,
    LightGold,
};

std::string_view ColorGroupName(ColorGroup group);
// The dark (true) or light (false) name of a criterion's colour family.
ColorGroup ColorGroupOf(Criterion criterion, bool dark);
// "Name", "Size", "Close", "Exact Tag", "Exact Tag", "Audio", "Close Audio".
std::string_view MatchTypeWord(Criterion criterion);

// What the groups a criterion finds show: that their files are the same recording (the audio
// was compared), or only a resemblance of name, size or title that suggests a copy.
enum class Evidence : std::uint8_t
{
    SameRecording,
    Resemblance,
};
Evidence EvidenceOf(Criterion criterion);

struct ResultRow
{
    std::uint32_t entry = 0;     // catalogue entry whose full path is the row's text
    std::uint32_t pathId = 0;    // equal for rows of equal paths (the row's identity)
    std::int64_t size = 0;       // byte count read when the row was written
    std::int64_t songLength = 0; // playing time in seconds
    std::int32_t bitRate = 0;    // kbit/s
    // The duplicate group, counted from 0 over the whole run: the rows the search wrote for one
    // file and the partners it found for it. Unlike the shading it survives deletes.
    std::uint32_t group = 0;
    Criterion criterion = Criterion::ExactFilename;
    bool checked = false;
    // Its position when the run wrote it (set by append): the search's order, which the rows
    // can be put back into after a window sorted them.
    std::uint32_t written = 0;
};

// The rows a run wrote, in the order written, with the colour-group name of every position
// (the RowColors table). The rows refer to the catalogue of the same run, which stays unchanged
// until the next run clears both.
class ResultList
{
public:
    static constexpr std::size_t kCapacity = 1'000'001;

    explicit ResultList(const Catalogue& catalogue) : m_catalogue(&catalogue) {}

    void clear();
    std::size_t size() const { return m_rows.size(); }
    bool empty() const { return m_rows.empty(); }
    bool full() const { return m_rows.size() >= kCapacity; }

    const ResultRow& row(std::size_t position) const { return m_rows[position]; }
    std::string path(std::size_t position) const;
    ColorGroup color(std::size_t position) const
    {
        return position < m_colors.size() ? m_colors[position] : ColorGroup::None;
    }

    // Column texts of a row.
    std::string sizeText(std::size_t position, std::string_view thousandsSeparator,
                         std::string_view decimalSeparator) const;
    std::string lengthText(std::size_t position) const;
    std::string bitRateText(std::size_t position) const;
    std::string_view typeText(std::size_t position) const;

    // False when the list is full; nothing is stored then.
    bool append(const ResultRow& row, ColorGroup color);

    void setChecked(std::size_t position, bool checked) { m_rows[position].checked = checked; }
    void setColumns(std::size_t position, std::int64_t size, std::int64_t songLength,
                    std::int32_t bitRate)
    {
        ResultRow& row = m_rows[position];
        row.size = size;
        row.songLength = songLength;
        row.bitRate = bitRate;
    }
    // Removes the rows at the given positions (ascending); the rest close up in order. The
    // colour table does not move with them.
    void removeRows(const std::vector<std::size_t>& ascendingPositions);
    // Puts rows back (an undone delete): each pair names the position the row will have once
    // all are in, ascending; the rows between move down in order. The colour table stays.
    void insertRows(const std::vector<std::pair<std::size_t, ResultRow>>& ascendingRows);
    void setColor(std::size_t position, ColorGroup color)
    {
        if (position < m_colors.size())
            m_colors[position] = color;
    }
    // Puts the rows in a new order, each taking its colour-group name along: the row at position
    // k is the one that stood at order[k]. order must hold every position once.
    void reorder(const std::vector<std::uint32_t>& order);
    // Gives every colour slot the same name (the delete command writes White).
    void resetColors(ColorGroup group);

    const Catalogue& catalogue() const { return *m_catalogue; }

private:
    const Catalogue* m_catalogue;
    std::vector<ResultRow> m_rows;
    std::vector<ColorGroup> m_colors;
};

} // namespace tunesift
