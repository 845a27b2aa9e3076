#pragma once

// The program's temporary files (imports, analysis copies, renders) live in
// one folder of its own: made on first use with a unique name and mode 0700
// under the system's temporary folder, and removed at quit, so that nothing
// of the user's sound lies open to others or is left behind, and clearing
// it never touches another program's files.
#include <juce_core/juce_core.h>

namespace ClarivoTempFolder
{
// The folder, made when first asked for; an invalid file when it cannot be made.
juce::File get();
// A new, empty file in the folder whose name ends with ending.
juce::File createTempFile (const juce::String& ending);
// The file in each run's folder that its run holds locked while it lives.
inline constexpr const char* runMarkerName = "run.lock";
// This user's folders of this kind, ours and those earlier runs left
// behind (not those of runs still going, wherever they run): real folders
// owned by us that nobody else may enter, with a marker nobody holds.
juce::Array<juce::File> ownFolders();
// Deletes the folder with everything in it; the next get() makes a new one.
void removeAll();
// Deletes, with everything in them, the folders of ownFolders() other than
// ours: those whose run is gone. A folder without a marker (one a user
// named like ours, say) is never taken.
void removeDeadFolders();

// Shared copies are handed to other programs that may read them after we
// quit, so they live apart, in a folder of this user's that outlives the
// run: "clarivo.share.<uid>" under the system's temporary folder, mode 0700,
// used only while it is a real folder we own. When that name is taken by
// something else, a fresh folder of ours takes its place for this run.
// An invalid file when no such folder can be had.
juce::File shareFolder();
// Deletes the shared copies last written before cutoff, in every share
// folder of ours, and the fall-back folders left empty.
void removeSharedCopiesOlderThan (juce::Time cutoff);
} // namespace ClarivoTempFolder
