#pragma once

#include "files/fileaccess.h"
#include "search/catalogue.h"
#include "search/parallel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>
#include <vector>

namespace tunesift {

// Runs work(folder, entry) (or work(folder, entry, k)) for count catalogue entries, entryAt(k)
// giving the k-th in catalogue order, on a few threads. The entries of one folder go in pieces,
// each with the folder held open, so that every file is opened and examined relative to its folder:
// one walk of the folder's path per piece instead of one or more per file. Pieces are kept short so
// that a large folder still spreads over the threads.
// With a stop signal, no file is begun once it is raised.
template <typename EntryAt, typename Work>
void ForEachInFolders(const Catalogue& catalogue, std::size_t count, EntryAt entryAt, Work work,
                      WorkKind localKind = WorkKind::SystemCalls, StopSignal* stop = nullptr)
{
    constexpr std::size_t kPiece = 32;
    std::vector<std::size_t> pieceStart;
    for (std::size_t k = 0; k < count; ++k) {
        if (k == 0 || k - pieceStart.back() >= kPiece ||
            catalogue.folderId(entryAt(k)) != catalogue.folderId(entryAt(k - 1)))
            pieceStart.push_back(k);
    }
    pieceStart.push_back(count);
    // Where files are distant, the threads wait on round trips rather than run on the cores.
    const WorkKind kind = catalogue.filesAreDistant() ? WorkKind::DistantReads : localKind;
    ParallelFor(
        pieceStart.size() - 1,
        [&](std::size_t piece) {
            const std::uint32_t folderId = catalogue.folderId(entryAt(pieceStart[piece]));
            const FolderHandle folder(std::string(catalogue.folderText(folderId)));
            for (std::size_t k = pieceStart[piece]; k < pieceStart[piece + 1]; ++k) {
                if (stop && stop->check())
                    return;
                const auto entry = static_cast<std::uint32_t>(entryAt(k));
                if constexpr (std::is_invocable_v<Work&, const FolderHandle&, std::uint32_t,
                                                  std::size_t>)
                    work(folder, entry, k);
                else
                    work(folder, entry);
            }
        },
        kind, stop);
}

} // namespace tunesift
