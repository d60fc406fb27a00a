// The log's name and the output file's path, derived from the log folder.
#pragma once

#include <string>

namespace logvane {

inline constexpr char kPathSeparator = '/';

// The text after the last separator of `log_folder`, scanning backwards
// from its second-to-last character (the last is never examined); the whole
// folder text when there is none. "/home/ham/Logs/MYLOG" gives "MYLOG".
std::string LogNameFromFolder(const std::string& log_folder);

// Whether `log_name` can name the output file: not empty and free of
// separators. The root folder "/" gives the log name "/", which cannot.
bool IsUsableLogName(const std::string& log_name);

// `log_folder` + separator + `log_name` + ".ADI".
std::string OutputPathFor(const std::string& log_folder, const std::string& log_name);

}  // namespace logvane
