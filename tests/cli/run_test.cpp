// tunesift-cli's run end to end: messages on standard error, the cache, failures and Ctrl-C.

#include "clirun.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <gmock/gmock.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace tunesift::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

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
    // Runs the program with the variables set as given (unset where empty).
    const auto runWith = [&](const std::map<std::string, std::string>& variables) {
        std::map<std::string, std::optional<std::string>> saved;
        for (const auto& [name, value] : variables) {
            const char* before = std::getenv(name.c_str());
            saved[name] = before ? std::optional<std::string>(before) : std::nullopt;
            value.empty() ? ::unsetenv(name.c_str()) : ::setenv(name.c_str(), value.c_str(), 1);
        }
        const CliResult result = runCli(args);
        for (const auto& [name, value] : saved)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
        return result;
    };
    const CliResult unknown = runWith({{"XDG_CACHE_HOME", ""}, {"HOME", ""}});
    EXPECT_EQ(unknown.status, 0);
    EXPECT_EQ(unknown.out, without.out);
    EXPECT_EQ(unknown.err, "tunesift-cli: No cache folder is known (HOME is not set); the search "
                           "goes on without a cache.\n");
    const CliResult with = runWith({{"XDG_CACHE_HOME", dir / "cache"}});
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
            const std::string stat = readText(task.path() / "stat");
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
    EXPECT_EQ(readText(m_io / "out"), "");
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
    EXPECT_EQ(readText(m_io / "out"), "");
}

} // namespace
} // namespace tunesift::test
