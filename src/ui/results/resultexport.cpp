#include "ui/results/resultexport.h"

#include "search/rowtext.h"
#include "ui/results/resultsmodel.h"

namespace tunesift {

std::string ExportResults(const ResultsModel& model, ExportFormat format)
{
    const ResultList& list = model.list();
    const std::vector<std::uint32_t>& groups = model.duplicateGroups();
    const auto rows = static_cast<std::size_t>(model.rowCount());
    std::string out;
    out.reserve(rows * 160 + 64);
    if (format == ExportFormat::Csv) {
        out.append(kCsvRowHeader);
        out += ",groupNumber,ticked\r\n";
    }
    for (std::size_t row = 0; row < rows; ++row) {
        const std::string number = std::to_string(groups[row] + 1);
        const bool ticked = list.row(row).checked;
        if (format == ExportFormat::Csv) {
            AppendCsvRowFields(out, list, row);
            out += ',' + number + (ticked ? ",True\r\n" : ",False\r\n");
        } else {
            AppendJsonRowFields(out, list, row);
            out += ",\"groupNumber\":" + number +
                   (ticked ? ",\"ticked\":true}\n" : ",\"ticked\":false}\n");
        }
    }
    return out;
}

} // namespace tunesift
