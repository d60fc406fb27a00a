// `logvane-cli rebuild`: rebuilds a table from its data file after copying
// its files into a backup folder, and prints what it changed and every
// record or blob value it could not keep.
#pragma once

#include <ostream>
#include <string>

namespace logvane::cli {

// Rebuilds the table defined at `mti_path`; `backup_dir` empty chooses a new
// folder beside the table. Prints the backup folder, the changes, the
// records set aside and the blob values detached (with what of their values
// could be read) to `out`; a refusal or failure goes to `err`. Returns 0
// when the table was rebuilt keeping every record and value, 1 when it was
// rebuilt but records or values were set aside, 2 when it was not rebuilt.
int RunTableRebuild(std::ostream& out, std::ostream& err, const std::string& mti_path,
                    const std::string& backup_dir);

}  // namespace logvane::cli
