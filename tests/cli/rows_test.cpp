// tunesift-cli's rows end to end: both output formats against the model's rows, any byte a name
// may hold, and the work line on standard error.

#include "clirun.h"
#include "mp3/audioprint.h"
#include "search/engineview.h"

#include <algorithm>
#include <filesystem>
#include <gmock/gmock.h>
#include <memory>
#include <set>
#include <sys/ioctl.h>
#include <unistd.h>
#include <variant>

namespace tunesift::test {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::int64_t kMiB = 1024 * 1024;

// A pseudo-terminal for the program's standard error: what the program wrote to it is read from
// the other end once the program has ended.
class PseudoTerminal
{
public:
    PseudoTerminal() : m_master(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK))
    {
        if (m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0)
            m_slavePath = ::ptsname(m_master);
    }
    ~PseudoTerminal()
    {
        if (m_master >= 0)
            ::close(m_master);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& path() const { return m_slavePath; }
    void setWidth(unsigned short columns)
    {
        winsize size{};
        size.ws_col = columns;
        size.ws_row = 24;
        ::ioctl(m_master, TIOCSWINSZ, &size);
    }
    std::string written()
    {
        std::string text;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(m_master, buffer, sizeof buffer);
            if (got <= 0)
                return text;
            text.append(buffer, static_cast<std::size_t>(got));
        }
    }

private:
    int m_master;
    std::string m_slavePath;
};

// A flat JSON object of strings and integers, as each jsonl line must be; nothing when the line
// is not one.
using JsonValue = std::variant<std::string, std::int64_t>;
using JsonObject = std::map<std::string, JsonValue>;

class JsonReader
{
public:
    explicit JsonReader(std::string_view text) : m_text(text) {}

    std::optional<JsonObject> object()
    {
        JsonObject result;
        if (!take('{'))
            return std::nullopt;
        if (take('}'))
            return atEnd() ? std::optional(result) : std::nullopt;
        do {
            std::optional<std::string> key = string();
            if (!key || !take(':') || result.count(*key))
                return std::nullopt;
            if (peek() == '"') {
                std::optional<std::string> value = string();
                if (!value)
                    return std::nullopt;
                result[*key] = *value;
            } else {
                std::optional<std::int64_t> value = integer();
                if (!value)
                    return std::nullopt;
                result[*key] = *value;
            }
        } while (take(','));
        if (!take('}') || !atEnd())
            return std::nullopt;
        return result;
    }

private:
    char peek() const { return m_pos < m_text.size() ? m_text[m_pos] : '\0'; }
    bool atEnd() const { return m_pos == m_text.size(); }
    bool take(char c)
    {
        if (peek() != c || atEnd())
            return false;
        ++m_pos;
        return true;
    }

    std::optional<std::int64_t> integer()
    {
        const std::size_t start = m_pos;
        if (peek() == '-')
            ++m_pos;
        while (peek() >= '0' && peek() <= '9')
            ++m_pos;
        if (m_pos == start)
            return std::nullopt;
        return std::stoll(std::string(m_text.substr(start, m_pos - start)));
    }

    std::optional<unsigned> hex4()
    {
        if (m_pos + 4 > m_text.size())
            return std::nullopt;
        unsigned value = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = m_text[m_pos++];
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return value;
    }

    static void appendUtf8(std::string& out, unsigned cp)
    {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    std::optional<std::string> string()
    {
        if (!take('"'))
            return std::nullopt;
        std::string out;
        while (!atEnd()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt; // control characters must be escaped
            if (c != '\\') {
                out += c;
                continue;
            }
            if (atEnd())
                return std::nullopt;
            const char e = m_text[m_pos++];
            switch (e) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::optional<unsigned> cp = hex4();
                if (!cp)
                    return std::nullopt;
                if (*cp >= 0xD800 && *cp < 0xDC00) {
                    if (!take('\\') || !take('u'))
                        return std::nullopt;
                    std::optional<unsigned> low = hex4();
                    if (!low || *low < 0xDC00 || *low > 0xDFFF)
                        return std::nullopt;
                    cp = 0x10000 + ((*cp - 0xD800) << 10) + (*low - 0xDC00);
                }
                appendUtf8(out, *cp);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// The escapes of PostgreSQL's COPY text format; nothing for any other backslash sequence.
std::optional<std::string> unescapeTsv(const std::string& field)
{
    std::string text;
    for (std::size_t k = 0; k < field.size(); ++k) {
        if (field[k] != '\\') {
            text += field[k];
            continue;
        }
        if (++k == field.size())
            return std::nullopt;
        const std::string_view escapes = "\\\\t\tn\nr\r";
        const std::size_t e = escapes.find(field[k]);
        if (e == std::string_view::npos || e % 2 != 0)
            return std::nullopt;
        text += escapes[e + 1];
    }
    return text;
}

// Rows under every criterion, with size texts that need both separators.
class CliTree : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteMp3File(m_dir / "A/Hey Jude.mp3", mp3(300, TitleField("Hey Jude", ' ')));
        WriteMp3File(m_dir / "B/Hey Jude.mp3", mp3(300, TitleField("Hey Jude", '\0')));
        WriteMp3File(m_dir / "B/hey jude.mp3", mp3(1023));
        WriteMp3File(m_dir / "C/the Long and Winding Road.mp3", mp3(1023));
        WriteMp3File(m_dir / "C/Long Winding Road.mp3", mp3(1023));
        WriteSparseMp3File(m_dir / "D/big one.mp3", 4 * kMiB + kMiB / 2);
        WriteSparseMp3File(m_dir / "D/big two.mp3", 4 * kMiB + kMiB / 2);
        WriteMp3File(m_dir / "E/\xC3\x9C"
                             "ber.mp3",
                     mp3(500, TitleField("\xDC"
                                         "ber alles",
                                         ' ')));
        WriteMp3File(m_dir / "E/other.mp3", mp3(501, TitleField("\xFC"
                                                                "ber ALLES",
                                                                ' ')));
        WriteMp3File(m_dir / "E/third.mp3", mp3(502, TitleField("\xDC"
                                                                "ber alles",
                                                                ' ')));
        // One tune in two encodings: the same recording to Similar Audio alone.
        if (AudioPrintsAvailable()) {
            std::filesystem::copy_file(s_tunes->file("stereo.mp3"), m_dir / "D/Morning Song.mp3");
            std::filesystem::copy_file(s_tunes->file("mono.mp3"), m_dir / "E/Evening Piece.mp3");
        }
    }

    static void SetUpTestSuite()
    {
        s_tunes = std::make_unique<test::ScopedDir>();
        ASSERT_TRUE(
            test::encodeTune(s_tunes->file("stereo.mp3"), 7, 30.0, "--resample 44.1 -b 128") &&
            test::encodeTune(s_tunes->file("mono.mp3"), 7, 30.0, "-b 64"));
    }

    static void TearDownTestSuite() { s_tunes.reset(); }

    static std::unique_ptr<test::ScopedDir> s_tunes;

    std::vector<std::string> folders() const
    {
        return {m_dir / "A", m_dir / "B/", m_dir / "C", m_dir / "D", m_dir / "E"};
    }

    TempDir m_dir{TempDir::Storage::Memory};
};

std::unique_ptr<test::ScopedDir> CliTree::s_tunes;

const std::vector<std::string> kAllOptions = {
    "--exact-filename", "--exact-filesize", "--similar-filename", "--exact-tag",
    "--similar-tag",    "--exact-audio",    "--similar-audio"};

// Every criterion at once, and two named alone with the folders in another order: the rows are
// the model's, in its order.
TEST_F(CliTree, TsvRowsAreTheModelsRowsInOrder)
{
    const auto expectModelRows = [](const std::vector<std::string>& options,
                                    const std::vector<std::string>& folders) {
        const std::vector<ExpectedRow> expected = modelRows(options, folders);
        const CliResult result = runCli(concat(options, folders));
        EXPECT_EQ(result.status, 0);
        std::vector<std::string> expectedLines;
        for (const ExpectedRow& row : expected)
            expectedLines.push_back(tsvLine(row));
        EXPECT_EQ(lines(result.out), expectedLines);
        EXPECT_EQ(result.err, "");
        return std::pair(expected, result.out);
    };
    const auto [expected, out] = expectModelRows(kAllOptions, folders());
    ASSERT_GE(expected.size(), 12u);
    std::set<Criterion> criteria;
    for (const ExpectedRow& row : expected)
        criteria.insert(row.criterion);
    EXPECT_EQ(criteria.size(),
              static_cast<std::size_t>(kCriterionCount - (AudioPrintsAvailable() ? 0 : 1)));
    EXPECT_THAT(out, HasSubstr("\t1,023 Bytes\t"));
    EXPECT_THAT(out, HasSubstr("\t4.5 MB\t"));

    std::vector<std::string> reversed = folders();
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_FALSE(expectModelRows({"--exact-tag", "--exact-filename"}, reversed).first.empty());
}

// What the search does goes to standard error: on a terminal as one line written over and taken
// off at the end, elsewhere only when asked for, one line each time; never among the rows.
TEST_F(CliTree, TheWorkLineGoesToATerminalOrWhereAsked)
{
    const std::vector<std::string> args = concat({"--exact-filename"}, folders());
    const CliResult plain = runCli(args);
    ASSERT_EQ(plain.status, 0);
    EXPECT_EQ(plain.err, "");

    const CliResult asked = runCli(concat({"--progress"}, args));
    EXPECT_EQ(asked.out, plain.out);
    const std::vector<std::string> said = lines(asked.err);
    ASSERT_GE(said.size(), 2u);
    EXPECT_THAT(said.front(), StartsWith("Scanning: "));
    EXPECT_THAT(asked.err, HasSubstr("\nExact Filename: "));
    for (const std::string& line : said)
        EXPECT_THAT(line, HasSubstr(" elapsed"));
    EXPECT_EQ(runCli(concat({"--progress", "--quiet"}, args)).err, "");

    PseudoTerminal terminal;
    if (terminal.path().empty())
        GTEST_SKIP() << "no pseudo-terminal";
    const CliResult shown = runCli(args, {}, terminal.path());
    EXPECT_EQ(shown.out, plain.out);
    const std::string written = terminal.written();
    EXPECT_THAT(written, StartsWith("\rScanning: "));
    EXPECT_THAT(written, HasSubstr("\rExact Filename: "));
    EXPECT_EQ(written.find('\n'), std::string::npos);
    // Taken off at the end: the last line is covered with spaces.
    const std::size_t lastLine = written.find_last_of('\r', written.size() - 2);
    EXPECT_EQ(written.back(), '\r');
    EXPECT_EQ(written.find_first_not_of(' ', lastLine + 1), written.size() - 1);
    runCli(concat({"--quiet"}, args), {}, terminal.path());
    EXPECT_EQ(terminal.written(), "");

    // A narrow terminal gets lines cut to its width, so that none wraps.
    terminal.setWidth(24);
    runCli(args, {}, terminal.path());
    const std::string narrow = terminal.written();
    EXPECT_THAT(narrow, HasSubstr("\rScanning: "));
    std::size_t longest = 0;
    for (std::size_t start = 0; start < narrow.size();) {
        const std::size_t end = std::min(narrow.find('\r', start + 1), narrow.size());
        longest = std::max(longest, end - start - 1);
        start = end;
    }
    EXPECT_EQ(longest, 23u);
}

TEST_F(CliTree, JsonlRowsCarryTheValuesAndTexts)
{
    std::vector<std::string> args = concat({"--format", "jsonl"}, kAllOptions);
    const std::vector<ExpectedRow> expected = modelRows(kAllOptions, folders());
    const CliResult result = runCli(concat(args, folders()));
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> output = lines(result.out);
    ASSERT_EQ(output.size(), expected.size()) << result.out;
    for (std::size_t k = 0; k < output.size(); ++k) {
        SCOPED_TRACE(output[k]);
        const std::optional<JsonObject> object = JsonReader(output[k]).object();
        ASSERT_TRUE(object);
        const ExpectedRow& row = expected[k];
        const JsonObject wanted = {
            {"path", row.path},
            {"size", row.size},
            {"sizeText", FormatFileSize(row.size, ",", ".")},
            {"length", FormatSongLength(row.songLength)},
            {"bitrate", std::int64_t{row.bitRate}},
            {"type", ExpectedTypeWord(row.criterion)},
            {"group", row.colour},
        };
        EXPECT_EQ(*object, wanted);
    }
}

// Names may hold any byte but "/" and NUL: quotes, backslashes, tabs, line breaks, controls.
class AwkwardNames : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char* name :
             {"plain.mp3", "tab\there.mp3", "line\nbreak.mp3", "quote \" and back\\slash.mp3",
              "bell\x07.mp3", "cr\rhere.mp3", "\xF0\x9F\x8E\xB5 note.mp3", "slash\\t.mp3"})
            WriteMp3File(m_dir / name, mp3(333));
    }
    TempDir m_dir{TempDir::Storage::Memory};
};

// A consumer splits the output at line ends and the fields at tabs; a path holding either must
// not add lines or fields, and must read back as it was, from TSV as from JSON.
TEST_F(AwkwardNames, EveryPathReadsBackInBothFormats)
{
    const std::vector<ExpectedRow> expected = modelRows({"--exact-filesize"}, {m_dir.path()});
    ASSERT_EQ(expected.size(), 8u);
    const CliResult tsv = runCli({"--exact-filesize", m_dir.path()});
    const CliResult jsonl = runCli({"--format", "jsonl", "--exact-filesize", m_dir.path()});
    EXPECT_EQ(tsv.status, 0);
    EXPECT_EQ(jsonl.status, 0);
    const std::vector<std::string> tsvLines = lines(tsv.out);
    const std::vector<std::string> jsonLines = lines(jsonl.out);
    ASSERT_EQ(tsvLines.size(), expected.size()) << tsv.out;
    ASSERT_EQ(jsonLines.size(), expected.size()) << jsonl.out;
    for (std::size_t k = 0; k < expected.size(); ++k) {
        const std::vector<std::string> fields = split(tsvLines[k], '\t');
        EXPECT_EQ(fields.size(), 6u) << tsvLines[k];
        EXPECT_EQ(unescapeTsv(fields.front()), expected[k].path) << tsvLines[k];
        const std::optional<JsonObject> object = JsonReader(jsonLines[k]).object();
        ASSERT_TRUE(object) << jsonLines[k];
        EXPECT_EQ(std::get<std::string>(object->at("path")), expected[k].path);
    }
}

} // namespace
} // namespace tunesift::test
