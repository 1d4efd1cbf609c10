#include "search/rowtext.h"

#include "search/resultlist.h"

#include <cstdio>

namespace tunesift {

namespace {
// The command line's size text, whatever the locale, so saved lists compare across machines.
constexpr std::string_view kThousands = ",";
constexpr std::string_view kDecimal = ".";
} // namespace

void AppendJsonString(std::string& out, std::string_view text)
{
    out.push_back('"');
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out.push_back(ch);
            }
        }
    }
    out.push_back('"');
}

void AppendCsvField(std::string& out, std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (const char c : text) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

void AppendJsonRowFields(std::string& out, const ResultList& results, std::size_t position)
{
    out += "{\"path\":";
    AppendJsonString(out, results.path(position));
    out += ",\"size\":";
    out += std::to_string(results.row(position).size);
    out += ",\"sizeText\":";
    AppendJsonString(out, results.sizeText(position, kThousands, kDecimal));
    out += ",\"length\":";
    AppendJsonString(out, results.lengthText(position));
    out += ",\"bitrate\":";
    out += results.bitRateText(position);
    out += ",\"type\":";
    AppendJsonString(out, results.typeText(position));
    out += ",\"group\":";
    AppendJsonString(out, ColorGroupName(results.color(position)));
}

void AppendCsvRowFields(std::string& out, const ResultList& results, std::size_t position)
{
    AppendCsvField(out, results.path(position));
    out += ',';
    out += std::to_string(results.row(position).size);
    out += ',';
    AppendCsvField(out, results.sizeText(position, kThousands, kDecimal));
    out += ',';
    AppendCsvField(out, results.lengthText(position));
    out += ',';
    out += results.bitRateText(position);
    out += ',';
    AppendCsvField(out, results.typeText(position));
    out += ',';
    AppendCsvField(out, ColorGroupName(results.color(position)));
}

} // namespace tunesift
