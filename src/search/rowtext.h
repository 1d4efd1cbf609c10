#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tunesift {

class ResultList;

// Text forms of result rows shared by the command line and the results window's save command.

// The short size text of the "Size" column ("2 Bytes", "1 KB", "4.5 MB", "3. MB", "2.5 GB");
// the empty text for 0, 1 and negative counts. The separators are the caller's (the GUI passes
// the user's locale's, the command line "," and ".").
// "#,###,###": a count with "," between groups of three digits.
std::string GroupedCount(std::uint64_t count);

std::string FormatFileSize(std::int64_t bytes, std::string_view thousandsSeparator,
                           std::string_view decimalSeparator);

// Appends the text as a JSON string, quotes included.
void AppendJsonString(std::string& out, std::string_view text);
// Appends the text as one RFC 4180 field: quoted (quotes doubled) when it holds a comma, a quote
// or a line break, as it is otherwise.
void AppendCsvField(std::string& out, std::string_view text);

// The fields of one row as the command line's JSON lines carry them: path, size (bytes),
// sizeText, length, bitrate, type, group. Appends the object without its closing brace, so a
// caller can add fields of its own.
void AppendJsonRowFields(std::string& out, const ResultList& results, std::size_t position);
// The same fields as CSV, in the same order and without the line end.
void AppendCsvRowFields(std::string& out, const ResultList& results, std::size_t position);
// Appends the text as one TAB-separated field: a backslash, TAB, LF and CR written as \\, \t, \n
// and \r.
void AppendTsvField(std::string& out, std::string_view text);
// The command line's default row: path, size text, length, bit rate, match type, colour group,
// TAB-separated, without the line end.
void AppendTsvRowFields(std::string& out, const ResultList& results, std::size_t position);
inline constexpr std::string_view kCsvRowHeader = "path,size,sizeText,length,bitrate,type,group";

} // namespace tunesift
