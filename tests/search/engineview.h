#pragma once

#include "search/oracle.h"
#include "search/searchrun.h"

#include <ostream>
#include <string>
#include <vector>

namespace tunesift::test {

bool operator==(const ExpectedRow& a, const ExpectedRow& b);
std::ostream& operator<<(std::ostream& out, const ExpectedRow& row);
std::ostream& operator<<(std::ostream& out, Criterion criterion);

// The engine's rows in the model's terms.
std::vector<ExpectedRow> RowsOf(const SearchSession& session);

// Every row's column texts against the texts built from its values (size text with "," and
// "."); empty when all agree, otherwise a description of the first row that does not.
std::string RowTextMismatch(const SearchSession& session);

// The full paths of the session's catalogue, in order.
std::vector<std::string> CataloguePaths(const SearchSession& session);
std::vector<std::string> CataloguePaths(const Oracle& oracle);

} // namespace tunesift::test
