// tunesift-cli end to end: arguments, exit status, both output formats against the model's
// rows, messages on standard error, Ctrl-C.

#include "mp3/audioprint.h"
#include "mp3/mp3analysis.h"
#include "mp3/mp3testutil.h"
#include "search/engineview.h"
#include "search/oracle.h"
#include "search/recordinghost.h"
#include "search/rowtext.h"
#include "search/testtree.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <spawn.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <variant>

extern char** environ;

namespace tunesift::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

constexpr std::int64_t kMiB = 1024 * 1024;

struct CliResult
{
    bool exited = false; // false when a signal ended it
    int status = -1;
    std::string out;
    std::string err;
};

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<char*> argv(std::vector<std::string>& args)
{
    std::vector<char*> result;
    for (std::string& arg : args)
        result.push_back(arg.data());
    result.push_back(nullptr);
    return result;
}

// Runs the program to its end with standard output going to stdoutPath and standard error to
// stderrPath (each a file of its own when empty, read back into the result).
CliResult runCli(std::vector<std::string> args, const std::string& stdoutPath = {},
                 const std::string& stderrPath = {})
{
    TempDir io;
    const std::string outPath = stdoutPath.empty() ? io / "out" : stdoutPath;
    const std::string errPath = stderrPath.empty() ? io / "err" : stderrPath;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    args.insert(args.begin(), TUNESIFT_CLI_PATH);
    std::vector<char*> arguments = argv(args);
    pid_t pid = 0;
    CliResult result;
    const int spawned =
        posix_spawn(&pid, TUNESIFT_CLI_PATH, &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << TUNESIFT_CLI_PATH;
        return result;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exited = WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    if (stdoutPath.empty())
        result.out = readFile(outPath);
    if (stderrPath.empty())
        result.err = readFile(errPath);
    return result;
}

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

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::vector<std::string> split(const std::string& line, char separator)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t p = line.find(separator); p != std::string::npos;
         p = line.find(separator, start)) {
        fields.push_back(line.substr(start, p - start));
        start = p + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

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

const std::map<std::string, Criterion> kOptions = {
    {"--exact-filename", Criterion::ExactFilename},
    {"--exact-filesize", Criterion::ExactFilesize},
    {"--similar-filename", Criterion::SimilarFilename},
    {"--exact-tag", Criterion::ExactTag},
    {"--similar-tag", Criterion::SimilarTag},
    {"--exact-audio", Criterion::ExactAudio},
    {"--similar-audio", Criterion::SimilarAudio},
};

// The model's rows for the same folders with the same boxes ticked for the whole run.
std::vector<ExpectedRow> modelRows(const std::vector<std::string>& options,
                                   const std::vector<std::string>& folders)
{
    RecordingHost host;
    for (const std::string& option : options)
        if (kOptions.count(option))
            host.setTicked(kOptions.at(option), true);
    Oracle model;
    model.run(folders, host);
    return model.rows();
}

std::string tsvLine(const ExpectedRow& row)
{
    return row.path + '\t' + FormatFileSize(row.size, ",", ".") + '\t' +
           FormatSongLength(row.songLength) + '\t' + std::to_string(row.bitRate) + '\t' +
           ExpectedTypeWord(row.criterion) + '\t' + row.colour;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Mp3Content mp3(std::size_t bodyBytes, std::optional<std::string> rawTitle = {})
{
    Mp3Content content;
    content.bodyBytes = bodyBytes;
    content.rawTitle = std::move(rawTitle);
    return content;
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

TEST(CliArguments, UsageErrorsExitWith2AndExplainOnStandardError)
{
    TempDir dir;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"--exact-filename"},
        {dir.path()},
        {"--exact-filename", "--bogus", dir.path()},
        {"--exact-filename", "--format", "xml", dir.path()},
        {"--exact-filename", dir.path(), "--format"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const CliResult result = runCli(args);
        EXPECT_TRUE(result.exited);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_THAT(result.err, HasSubstr("tunesift-cli"));
        EXPECT_THAT(result.err, HasSubstr("FOLDER"));
    }
}

TEST(CliArguments, HelpNamesEveryOptionAndTheExitStatus)
{
    const CliResult result = runCli({"--help"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    for (const char* word :
         {"--exact-filename", "--exact-filesize", "--similar-filename", "--exact-tag",
          "--similar-tag", "--exact-audio", "--similar-audio", "--id3v2-titles", "--no-cache",
          "--format", "tsv", "jsonl", "--progress", "--quiet", "Ctrl-C", "Exit status"})
        EXPECT_THAT(result.out, HasSubstr(word));
}

TEST_F(CliTree, TsvRowsAreTheModelsRowsInOrder)
{
    const std::vector<ExpectedRow> expected = modelRows(kAllOptions, folders());
    ASSERT_GE(expected.size(), 12u);
    std::set<Criterion> criteria;
    for (const ExpectedRow& row : expected)
        criteria.insert(row.criterion);
    ASSERT_EQ(criteria.size(),
              static_cast<std::size_t>(kCriterionCount - (AudioPrintsAvailable() ? 0 : 1)));

    const CliResult result = runCli(concat(kAllOptions, folders()));
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> expectedLines;
    for (const ExpectedRow& row : expected)
        expectedLines.push_back(tsvLine(row));
    EXPECT_EQ(lines(result.out), expectedLines);
    EXPECT_THAT(result.out, HasSubstr("\t1,023 Bytes\t"));
    EXPECT_THAT(result.out, HasSubstr("\t4.5 MB\t"));
    EXPECT_EQ(result.err, "");
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

TEST_F(CliTree, OnlyTheNamedCriteriaRunAndFoldersKeepTheirArgumentOrder)
{
    const std::vector<std::string> options = {"--exact-tag", "--exact-filename"};
    std::vector<std::string> reversed = folders();
    std::reverse(reversed.begin(), reversed.end());
    const std::vector<ExpectedRow> expected = modelRows(options, reversed);
    ASSERT_FALSE(expected.empty());

    const CliResult result = runCli(concat(options, reversed));
    EXPECT_EQ(result.status, 0);
    std::vector<std::string> expectedLines;
    for (const ExpectedRow& row : expected)
        expectedLines.push_back(tsvLine(row));
    EXPECT_EQ(lines(result.out), expectedLines);
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

TEST_F(AwkwardNames, JsonlEscapesEveryPath)
{
    const std::vector<ExpectedRow> expected = modelRows({"--exact-filesize"}, {m_dir.path()});
    ASSERT_EQ(expected.size(), 8u);
    const CliResult result = runCli({"--format", "jsonl", "--exact-filesize", m_dir.path()});
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> output = lines(result.out);
    ASSERT_EQ(output.size(), expected.size()) << result.out;
    for (std::size_t k = 0; k < output.size(); ++k) {
        const std::optional<JsonObject> object = JsonReader(output[k]).object();
        ASSERT_TRUE(object) << output[k];
        EXPECT_EQ(std::get<std::string>(object->at("path")), expected[k].path);
    }
}

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

// A consumer splits the output at line ends and the fields at tabs; a path holding either must
// not add lines or fields, and must read back as it was.
TEST_F(AwkwardNames, TsvKeepsOneLineOfSixFieldsPerRow)
{
    const std::vector<ExpectedRow> expected = modelRows({"--exact-filesize"}, {m_dir.path()});
    const CliResult result = runCli({"--exact-filesize", m_dir.path()});
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> output = lines(result.out);
    ASSERT_EQ(output.size(), expected.size()) << result.out;
    for (std::size_t k = 0; k < output.size(); ++k) {
        const std::vector<std::string> fields = split(output[k], '\t');
        EXPECT_EQ(fields.size(), 6u) << output[k];
        EXPECT_EQ(unescapeTsv(fields.front()), expected[k].path) << output[k];
    }
}

TEST(CliMessages, NoDupesAndSkipGoToStandardError)
{
    TempDir dir;
    WriteMp3File(dir / "a/one.mp3", mp3(300));
    WriteMp3File(dir / "a/bad\xFF.mp3", mp3(300));
    const CliResult result = runCli({"--exact-filename", dir / "a"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_THAT(result.err, HasSubstr(kNoDupesMessage));
    EXPECT_THAT(result.err, HasSubstr(" has been skipped because it is unrecognizeable. This is "
                                      "probably because it contains strange characters."));
    EXPECT_THAT(result.err, HasSubstr(dir / "a/bad"));

    // So is a listed folder whose own text is not UTF-8: no row may name a path that is not.
    WriteMp3File(dir / "b\xFE/one.mp3", mp3(300));
    const CliResult listed =
        runCli({"--format", "jsonl", "--exact-filename", dir / "a", dir / "b\xFE/"});
    EXPECT_EQ(listed.status, 0);
    EXPECT_EQ(listed.out, "");
    EXPECT_THAT(listed.err, HasSubstr("Skip: " + SkipMessage(dir / "b\xFE")));

    // The empty text is a folder that yields nothing; the run still completes.
    const CliResult empty = runCli({"--exact-filename", ""});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, "");
    EXPECT_THAT(empty.err, HasSubstr(kNoDupesMessage));
}

TEST(CliMessages, ACacheThatCannotBeUsedIsSaidOnceAndChangesNoRow)
{
    TempDir dir;
    WriteMp3File(dir / "a/one.mp3", mp3(300));
    WriteMp3File(dir / "b/one.mp3", mp3(300));
    WriteBytes(dir / "cache", "a file where the cache folder should be");
    const std::vector<std::string> args = {"--exact-filename", "--exact-tag", dir / "a", dir / "b"};
    const CliResult without = runCli(concat({"--no-cache"}, args));
    const char* saved = std::getenv("XDG_CACHE_HOME");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
    const CliResult with = runCli(args);
    saved ? ::setenv("XDG_CACHE_HOME", previous.c_str(), 1) : ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(with.status, 0);
    EXPECT_EQ(with.out, without.out);
    EXPECT_EQ(lines(with.err), std::vector<std::string>({"tunesift-cli: The file cache " +
                                                         (dir / "cache/tunesift/files.sqlite3") +
                                                         " cannot be used (its folder cannot be "
                                                         "made: Not a directory); the search goes "
                                                         "on without it."}));
    EXPECT_EQ(without.err, "");
}

TEST(CliMessages, FoldersArePassedAsWritten)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3(300));
    WriteMp3File(dir / "b/x.mp3", mp3(300));
    const CliResult result = runCli({"--exact-filename", dir / "a/./", dir / "b/"});
    EXPECT_EQ(result.status, 0);
    const std::vector<std::string> output = lines(result.out);
    std::vector<std::string> paths;
    for (const std::string& line : output)
        paths.push_back(split(line, '\t').front());
    const std::vector<ExpectedRow> expected =
        modelRows({"--exact-filename"}, {dir / "a/./", dir / "b/"});
    std::vector<std::string> expectedPaths;
    for (const ExpectedRow& row : expected)
        expectedPaths.push_back(row.path);
    EXPECT_EQ(paths, expectedPaths);
    EXPECT_THAT(result.out, HasSubstr(dir / "a/./x.mp3\t"));
    EXPECT_THAT(result.out, HasSubstr(dir / "b/x.mp3\t"));
}

// A folder listed twice makes 20,002 entries: the command line goes on without asking.
TEST(CliMessages, ALargeCatalogueIsSearchedWithoutAQuestion)
{
    TempDir dir(TempDir::Storage::Memory);
    MakeFolder(dir / "many");
    for (int k = 0; k < 10000; ++k) {
        const std::string path = dir / "many/" + std::to_string(k) + ".mp3";
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    WriteMp3File(dir / "many/a.mp3", mp3(300, TitleField("Same", ' ')));
    WriteMp3File(dir / "many/b.mp3", mp3(300, TitleField("Same", ' ')));
    const CliResult result = runCli({"--exact-tag", dir / "many", dir / "many"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(lines(result.out).size(), 2u) << result.out;
    EXPECT_THAT(result.err, Not(HasSubstr("proceed anyway")));
}

TEST(CliFailures, AnOutputThatCannotBeWrittenIsAFailure)
{
    TempDir dir;
    WriteMp3File(dir / "a/x.mp3", mp3(300));
    WriteMp3File(dir / "b/x.mp3", mp3(300));
    const CliResult result = runCli({"--exact-filename", dir / "a", dir / "b"}, "/dev/full");
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.status, 1);
}

// A run held at a known point: its "Skip" messages fill a pipe nobody reads, so the next
// message blocks.
class HeldRun : public ::testing::Test
{
protected:
    static constexpr int kSkipped = 1500;

    void SetUp() override
    {
        for (int k = 0; k < kSkipped; ++k)
            WriteBytes(m_dir / "top/bad\xFF" + std::to_string(k) + ".mp3", "x");
        WriteMp3File(m_dir / "top/sub/x.mp3", mp3(300));
        WriteMp3File(m_dir / "top/sub2/x.mp3", mp3(300));

        int errPipe[2];
        ASSERT_EQ(::pipe(errPipe), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (m_io / "out").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
        posix_spawn_file_actions_addclose(&actions, errPipe[0]);
        std::vector<std::string> args = {TUNESIFT_CLI_PATH, "--exact-filename", m_dir / "top"};
        std::vector<char*> arguments = argv(args);
        ASSERT_EQ(
            posix_spawn(&m_pid, TUNESIFT_CLI_PATH, &actions, nullptr, arguments.data(), environ),
            0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(errPipe[1]);
        m_err = errPipe[0];

        // Wait until the pipe is nearly full (the program is then blocked or about to be) or the
        // program ended on its own, which would mean it held its messages back.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            int pending = 0;
            ::ioctl(m_err, FIONREAD, &pending);
            if (pending >= 60000)
                break;
            ASSERT_NE(::waitpid(m_pid, &m_status, WNOHANG), m_pid)
                << "messages were not written while the scan ran";
            ASSERT_LT(std::chrono::steady_clock::now(), deadline)
                << "the program neither filled the pipe nor ended";
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // Then until it is blocked: the pipe no longer fills and no thread runs. On a loaded
        // machine it may still be writing its last messages, and a Ctrl-C then would find it
        // free to stop at once.
        int before = -1;
        for (;;) {
            int pending = 0;
            ::ioctl(m_err, FIONREAD, &pending);
            if (pending == before && allThreadsSleep())
                break;
            before = pending;
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the program never blocked";
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    bool allThreadsSleep() const
    {
        const std::filesystem::path tasks = "/proc/" + std::to_string(m_pid) + "/task";
        std::error_code error;
        for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
            // The state follows the parenthesised command name.
            const std::string stat = readFile(task.path() / "stat");
            const auto close = stat.rfind(')');
            if (close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'S')
                return false;
        }
        return !error;
    }

    void TearDown() override
    {
        if (m_pid > 0 && ::waitpid(m_pid, &m_status, WNOHANG) == 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, &m_status, 0);
        }
        if (m_err >= 0)
            ::close(m_err);
    }

    // Reads the pipe to its end, then waits for the program.
    std::string drain()
    {
        std::string err;
        char buffer[4096];
        for (ssize_t n; (n = ::read(m_err, buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                break;
            err.append(buffer, static_cast<std::size_t>(n));
        }
        while (::waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
        }
        m_pid = 0;
        return err;
    }

    TempDir m_dir{TempDir::Storage::Memory};
    TempDir m_io;
    pid_t m_pid = 0;
    int m_err = -1;
    int m_status = 0;
};

// Ctrl-C while the run waits; once the pipe drains, the scan must stop at its next check point
// and the program end with status 1, printing no rows.
TEST_F(HeldRun, CtrlCStopsTheRunAtItsNextCheckPoint)
{
    ASSERT_EQ(::kill(m_pid, SIGINT), 0);
    const std::string err = drain();

    ASSERT_TRUE(WIFEXITED(m_status)) << "ended by signal " << WTERMSIG(m_status);
    EXPECT_EQ(WEXITSTATUS(m_status), 1);
    EXPECT_EQ(readFile(m_io / "out"), "");
    std::size_t skips = 0;
    for (std::size_t p = err.find("has been skipped"); p != std::string::npos;
         p = err.find("has been skipped", p + 1))
        ++skips;
    EXPECT_GT(skips, 100u);
    EXPECT_LT(skips, static_cast<std::size_t>(kSkipped));
}

// A second Ctrl-C ends the program at once, though it still waits on the full pipe.
TEST_F(HeldRun, ASecondCtrlCEndsTheProgramAtOnce)
{
    ASSERT_EQ(::kill(m_pid, SIGINT), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(::kill(m_pid, SIGINT), 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(m_pid, &m_status, WNOHANG) != m_pid) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "still running";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_pid = 0;
    EXPECT_TRUE(WIFSIGNALED(m_status));
    EXPECT_EQ(readFile(m_io / "out"), "");
}

} // namespace
} // namespace tunesift::test
