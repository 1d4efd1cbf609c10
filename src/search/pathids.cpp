#include "search/pathids.h"

#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace tunesift {

void AssignPathIds(RunState& state)
{
    const Catalogue& catalogue = state.session.catalogue();
    const std::size_t n = catalogue.count();
    state.pathId.resize(n);
    state.pathCount = static_cast<std::uint32_t>(n);
    state.rowInfo.assign(n, {});
    state.groupOfPath.assign(n, 0);

    // A row names a file, and one file may have been catalogued under several paths: its folder
    // listed twice, inside another listed folder, under another spelling or through a listed
    // link. Entries of one file (one name in one folder, the folder known by its identity) share
    // the path id of its first entry; two hard links are two names and stay two files. Names
    // within one listing are distinct, so only entries of folders catalogued more than once can
    // share a file.
    std::unordered_map<std::string_view, std::uint32_t> identity;
    std::vector<std::uint32_t> sameFolderOf(catalogue.folderCount());
    std::vector<std::uint32_t> foldersPerIdentity;
    for (std::uint32_t folder = 0; folder < catalogue.folderCount(); ++folder) {
        const auto [it, inserted] =
            identity.try_emplace(catalogue.folderIdentity(folder),
                                 static_cast<std::uint32_t>(foldersPerIdentity.size()));
        if (inserted)
            foldersPerIdentity.push_back(0);
        sameFolderOf[folder] = it->second;
        ++foldersPerIdentity[it->second];
    }
    std::unordered_map<std::string, std::uint32_t> repeated;
    for (std::uint32_t entry = 0; entry < n; ++entry) {
        state.pathId[entry] = entry;
        const std::uint32_t folder = sameFolderOf[catalogue.folderId(entry)];
        if (foldersPerIdentity[folder] < 2)
            continue;
        std::string file(catalogue.folderIdentity(catalogue.folderId(entry)));
        file.append(catalogue.name(entry));
        const auto [it, inserted] = repeated.try_emplace(std::move(file), entry);
        state.pathId[entry] = it->second;
    }
}

} // namespace tunesift
