#include "resultsfixture.h"

#include "files/pathops.h"
#include "search/catalogue.h"

namespace tunesift::test {

std::size_t ResultsFixture::addRow(const std::string& path, ColorGroup group, Criterion criterion,
                                   RowFacts facts, std::optional<std::uint32_t> groupNumber)
{
    Catalogue& catalogue = m_session.catalogue();
    const std::uint32_t folder = catalogue.addFolder(FolderOfPath(path));
    catalogue.append(folder, FileNameOfPath(path), facts.size);

    ResultRow row;
    row.entry = static_cast<std::uint32_t>(catalogue.count() - 1);
    row.pathId =
        m_pathIds.try_emplace(path, static_cast<std::uint32_t>(m_pathIds.size())).first->second;
    row.size = facts.size;
    row.songLength = facts.songLength;
    row.bitRate = facts.bitRate;
    row.criterion = criterion;
    // As a run numbers its groups: a group's rows are written one after another in one shade,
    // and the next group of the criterion takes the other shade.
    ResultList& list = m_session.results();
    if (!list.empty()) {
        const std::size_t last = list.size() - 1;
        const bool sameGroup = list.color(last) == group && list.row(last).criterion == criterion;
        row.group = list.row(last).group + (sameGroup ? 0 : 1);
    }
    if (groupNumber)
        row.group = *groupNumber;
    list.append(row, group);
    return m_session.results().size() - 1;
}

std::size_t ResultsFixture::addRowIn(std::uint32_t group, const std::string& path,
                                     Criterion criterion, RowFacts facts)
{
    const std::size_t position = addRow(path, ColorGroup::None, criterion, facts);
    ResultList& list = m_session.results();
    ResultRow row = list.row(position);
    row.group = group;
    list.removeRows({position});
    list.append(row, ColorGroup::None);
    return position;
}

void ResultsFixture::clear()
{
    m_session.results().clear();
    m_session.catalogue().clear();
    m_pathIds.clear();
}

} // namespace tunesift::test
