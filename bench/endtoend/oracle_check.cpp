// Runs one search with all five criteria over the given folders twice: through the fast engine
// and through the literal model of the tests (every pair walked). Exits 0 when both wrote the
// same rows (path, size, length, bit rate, criterion, shade) in the same order and made the same
// host calls (captions, progress, messages); 1 when the rows differ; 3 when only the host calls
// differ. Prints the first difference of each.

#include "search/host.h"
#include "search/oracle.h"
#include "search/resultlist.h"
#include "search/searchrun.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace tunesift {
namespace {

// Ticks every criterion, never stops, answers Yes to every question and writes down each call.
class LoggingHost : public SearchHost
{
public:
    bool isCriterionTicked(Criterion) override { return true; }
    bool isStopRequested() override { return false; }
    void resetStop() override { m_log.emplace_back("resetStop"); }
    void setCaption(const std::string& caption) override { m_log.push_back("caption " + caption); }
    void setProgress(int percent) override
    {
        m_log.push_back("progress " + std::to_string(percent));
    }
    MessageAnswer showMessage(const std::string& text, const std::string& title,
                              MessageButtons buttons) override
    {
        m_log.push_back("message " + title + ": " + text);
        return buttons == MessageButtons::YesNo ? MessageAnswer::Yes : MessageAnswer::Ok;
    }
    void runStarted() override { m_log.emplace_back("runStarted"); }
    void showResults() override { m_log.emplace_back("showResults"); }
    void runFinished() override { m_log.emplace_back("runFinished"); }

    const std::vector<std::string>& log() const { return m_log; }

private:
    std::vector<std::string> m_log;
};

const char* criterionName(Criterion c)
{
    static constexpr const char* kNames[] = {"Exact Filename", "Exact Filesize", "Similar Filename",
                                             "Exact Tag",      "Similar Tag",    "Exact Audio",
                                             "Similar Audio"};
    static_assert(std::size(kNames) == kCriterionCount);
    return kNames[static_cast<int>(c)];
}

std::string describe(const std::string& path, std::int64_t size, std::int64_t length, int bitRate,
                     Criterion criterion, std::string_view colour)
{
    return path + " | " + std::to_string(size) + " bytes | " + std::to_string(length) + " s | " +
           std::to_string(bitRate) + " kbit/s | " + criterionName(criterion) + " | " +
           std::string(colour);
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace
} // namespace tunesift

int main(int argc, char** argv)
{
    using namespace tunesift;
    if (argc < 2) {
        std::fprintf(stderr, "usage: oracle_check FOLDER...\n");
        return 2;
    }
    const std::vector<std::string> folders(argv + 1, argv + argc);

    LoggingHost fastHost;
    SearchSession session;
    auto start = std::chrono::steady_clock::now();
    RunSearch(session, folders, fastHost);
    const double fastSeconds = secondsSince(start);

    LoggingHost literalHost;
    test::Oracle oracle;
    start = std::chrono::steady_clock::now();
    oracle.run(folders, literalHost);
    const double literalSeconds = secondsSince(start);

    std::vector<std::string> fast;
    const ResultList& results = session.results();
    for (std::size_t k = 0; k < results.size(); ++k) {
        const ResultRow& r = results.row(k);
        fast.push_back(describe(results.path(k), r.size, r.songLength, r.bitRate, r.criterion,
                                ColorGroupName(results.color(k))));
    }
    std::vector<std::string> literal;
    for (const test::ExpectedRow& r : oracle.rows()) {
        literal.push_back(describe(r.path, r.size, r.songLength, r.bitRate, r.criterion, r.colour));
    }

    std::printf("%zu catalogued files; fast engine %.3f s, literal walk %.3f s\n",
                session.catalogue().count(), fastSeconds, literalSeconds);
    std::printf("rows: fast engine %zu, literal walk %zu\n", fast.size(), literal.size());
    auto compare = [](const char* what, const std::vector<std::string>& a,
                      const std::vector<std::string>& b) {
        std::size_t k = 0;
        while (k < a.size() && k < b.size() && a[k] == b[k]) {
            ++k;
        }
        if (k == a.size() && k == b.size()) {
            std::printf("%s: identical (%zu)\n", what, a.size());
            return true;
        }
        std::printf("%s differ at %zu:\n  fast:    %s\n  literal: %s\n", what, k,
                    k < a.size() ? a[k].c_str() : "(none)", k < b.size() ? b[k].c_str() : "(none)");
        return false;
    };
    const bool rowsEqual = compare("rows", fast, literal);
    const bool callsEqual = compare("host calls", fastHost.log(), literalHost.log());
    if (fast.empty()) {
        std::printf("no rows at all: nothing was compared\n");
        return 1;
    }
    return !rowsEqual ? 1 : (!callsEqual ? 3 : 0);
}
