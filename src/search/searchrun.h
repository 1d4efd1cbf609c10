#pragma once

#include "search/catalogue.h"
#include "search/host.h"
#include "search/resultlist.h"

#include <string>
#include <utility>
#include <vector>

namespace tunesift {

inline constexpr const char* kProductName = "Tunesift";

// What one run leaves behind for the results window: the catalogue, the titles the tag criteria
// read, and the result rows. A new run clears it; it lives as long as the program.
class SearchSession
{
public:
    SearchSession() : m_results(m_catalogue) {}
    SearchSession(const SearchSession&) = delete;
    SearchSession& operator=(const SearchSession&) = delete;

    Catalogue& catalogue() { return m_catalogue; }
    const Catalogue& catalogue() const { return m_catalogue; }
    ResultList& results() { return m_results; }
    const ResultList& results() const { return m_results; }
    // CatalogueTitle: the ID3v1 titles of the last tag criterion, one per entry (UTF-8).
    const std::vector<std::string>& titles() const { return m_titles; }
    std::vector<std::string>& titles() { return m_titles; }
    // The folders the last run was given, as given.
    const std::vector<std::string>& listedFolders() const { return m_listedFolders; }
    void setListedFolders(std::vector<std::string> folders)
    {
        m_listedFolders = std::move(folders);
    }

private:
    Catalogue m_catalogue;
    ResultList m_results;
    std::vector<std::string> m_titles;
    std::vector<std::string> m_listedFolders;
};

// The find button's run: scans the folders (in order, each text as given), asks about very large
// catalogues, runs every ticked criterion in the fixed order and writes the result rows. The
// folder list is a snapshot taken by the caller. Never throws: a run that fails (out of memory,
// out of descriptors, an internal error) says so in a message, "The search could not be
// completed: " and the reason, ends with the closing steps and returns false.
bool RunSearch(SearchSession& session, const std::vector<std::string>& folders, SearchHost& host);

} // namespace tunesift
