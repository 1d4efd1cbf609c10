#include "search/rowtext.h"

#include "search/resultlist.h"

#include <cstdio>

namespace tunesift {

std::string GroupedCount(std::uint64_t count)
{
    const std::string digits = std::to_string(count);
    std::string out;
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            out.push_back(',');
        out.push_back(digits[k]);
    }
    return out;
}

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

// A file name may hold a TAB or a line break; written as \t, \n and \r they cannot split the
// row into extra fields or lines, and with the backslash itself written as \\ a path reads back
// unambiguously (the text format of PostgreSQL's COPY).
void AppendTsvField(std::string& out, std::string_view text)
{
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out.push_back(c);
    }
}

void AppendTsvRowFields(std::string& out, const ResultList& results, std::size_t position)
{
    AppendTsvField(out, results.path(position));
    out += '\t';
    out += results.sizeText(position, kThousands, kDecimal);
    out += '\t';
    out += results.lengthText(position);
    out += '\t';
    out += results.bitRateText(position);
    out += '\t';
    out.append(results.typeText(position));
    out += '\t';
    out.append(ColorGroupName(results.color(position)));
}

namespace {

// Digits of a non-negative whole number with a separator between groups of three.
std::string groupedDigits(std::uint64_t value, std::string_view thousandsSeparator)
{
    const std::string digits = std::to_string(value);
    std::string out;
    out.reserve(digits.size() + digits.size() / 3 * thousandsSeparator.size());
    for (std::size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0)
            out.append(thousandsSeparator);
        out.push_back(digits[k]);
    }
    return out;
}

// value / 2^shift rounded half away from zero to a whole number, exactly.
std::uint64_t roundedQuotient(std::uint64_t value, unsigned shift)
{
    return (value >> shift) + ((value >> (shift - 1)) & 1U);
}

// "#,###.##": up to two decimals of value / 2^shift, trailing zeros dropped, the decimal
// separator always written. Rounding is half away from zero, computed exactly in integers.
std::string twoDecimals(std::uint64_t value, unsigned shift, std::string_view thousandsSeparator,
                        std::string_view decimalSeparator)
{
    const std::uint64_t whole = value >> shift;
    const std::uint64_t fraction = value & ((std::uint64_t{1} << shift) - 1);
    // fraction < 2^30, so fraction * 100 cannot overflow.
    const std::uint64_t hundredths = (fraction * 100 + (std::uint64_t{1} << (shift - 1))) >> shift;
    const std::uint64_t total = whole * 100 + hundredths;
    std::string out = groupedDigits(total / 100, thousandsSeparator);
    out.append(decimalSeparator);
    const std::uint64_t decimals = total % 100;
    if (decimals != 0) {
        out.push_back(static_cast<char>('0' + decimals / 10));
        if (decimals % 10 != 0)
            out.push_back(static_cast<char>('0' + decimals % 10));
    }
    return out;
}

} // namespace

std::string FormatFileSize(std::int64_t bytes, std::string_view thousandsSeparator,
                           std::string_view decimalSeparator)
{
    if (bytes <= 1)
        return {};
    const auto s = static_cast<std::uint64_t>(bytes);
    constexpr std::uint64_t kKiB = 1024;
    constexpr std::uint64_t kMiB = kKiB * 1024;
    constexpr std::uint64_t kGiB = kMiB * 1024;
    if (s < kKiB)
        return groupedDigits(s, thousandsSeparator) + " Bytes";
    if (s < kMiB)
        return groupedDigits(roundedQuotient(s, 10), thousandsSeparator) + " KB";
    if (s < kGiB)
        return twoDecimals(s, 20, thousandsSeparator, decimalSeparator) + " MB";
    return twoDecimals(s, 30, thousandsSeparator, decimalSeparator) + " GB";
}

} // namespace tunesift
