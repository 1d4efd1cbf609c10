#include "search/engineview.h"

#include "mp3/mp3analysis.h"
#include "search/rowtext.h"

#include <sstream>

namespace tunesift::test {

bool operator==(const ExpectedRow& a, const ExpectedRow& b)
{
    return a.path == b.path && a.size == b.size && a.songLength == b.songLength &&
           a.bitRate == b.bitRate && a.criterion == b.criterion && a.colour == b.colour &&
           a.group == b.group;
}

std::ostream& operator<<(std::ostream& out, Criterion criterion)
{
    static constexpr const char* names[] = {"ExactFilename", "ExactFilesize", "SimilarFilename",
                                            "ExactTag",      "SimilarTag",    "ExactAudio",
                                            "SimilarAudio"};
    return out << names[static_cast<std::size_t>(criterion)];
}

std::ostream& operator<<(std::ostream& out, const ExpectedRow& row)
{
    return out << '{' << row.criterion << " \"" << row.path << "\" " << row.size << " B, "
               << row.songLength << " s, " << row.bitRate << " kbit/s, " << row.colour << ", group "
               << row.group << '}';
}

std::vector<ExpectedRow> RowsOf(const SearchSession& session)
{
    const ResultList& list = session.results();
    std::vector<ExpectedRow> rows;
    for (std::size_t k = 0; k < list.size(); ++k) {
        const ResultRow& r = list.row(k);
        rows.push_back({list.path(k), r.size, r.songLength, r.bitRate, r.criterion,
                        std::string(ColorGroupName(list.color(k))), r.group});
    }
    return rows;
}

std::string RowTextMismatch(const SearchSession& session)
{
    const ResultList& list = session.results();
    for (std::size_t k = 0; k < list.size(); ++k) {
        const ResultRow& r = list.row(k);
        const std::string size = FormatFileSize(r.size, ",", ".");
        const std::string length = FormatSongLength(r.songLength);
        const std::string bitRate = std::to_string(r.bitRate);
        const std::string type = ExpectedTypeWord(r.criterion);
        if (list.sizeText(k, ",", ".") != size || list.lengthText(k) != length ||
            list.bitRateText(k) != bitRate || list.typeText(k) != type) {
            std::ostringstream out;
            out << "row " << k << ": \"" << list.sizeText(k, ",", ".") << "\" \""
                << list.lengthText(k) << "\" \"" << list.bitRateText(k) << "\" \""
                << list.typeText(k) << "\", expected \"" << size << "\" \"" << length << "\" \""
                << bitRate << "\" \"" << type << '"';
            return out.str();
        }
    }
    return {};
}

std::vector<std::string> CataloguePaths(const SearchSession& session)
{
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < session.catalogue().count(); ++k)
        paths.push_back(session.catalogue().path(k));
    return paths;
}

std::vector<std::string> CataloguePaths(const Oracle& oracle)
{
    std::vector<std::string> paths;
    for (std::size_t k = 0; k < oracle.catalogue().size(); ++k)
        paths.push_back(oracle.path(k));
    return paths;
}

} // namespace tunesift::test
