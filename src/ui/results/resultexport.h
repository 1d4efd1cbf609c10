#pragma once

#include <string>

namespace tunesift {

class ResultsModel;

enum class ExportFormat
{
    Csv,       // RFC 4180: a header line, CRLF line ends
    JsonLines, // one object per line
};

// The rows as the save command writes them: the command line's fields, then the row's group
// number (from 1, in list order) and whether it is ticked.
std::string ExportResults(const ResultsModel& model, ExportFormat format);

} // namespace tunesift
