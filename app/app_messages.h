// The message texts of the conversion application: the text file that the
// export writes and the main window's message boxes.
#pragma once

namespace logvane::msg {

// Text-file errors, by code.
inline constexpr char kTextFileNotFound[] = "File not found";          // 2
inline constexpr char kTextFileInvalidName[] = "Invalid filename";     // 3
inline constexpr char kTextFileTooManyOpen[] = "Too many open files";  // 4
inline constexpr char kTextFileAccessDenied[] = "File access denied";  // 5
inline constexpr char kTextFileDiskFull[] = "Disk full";               // 101
inline constexpr char kTextFileIoError[] = "I/O error %d";             // any other code

// The main window. Lines of a box's text are separated by a carriage
// return (character 13).
inline constexpr char kLogTableNotSelected[] = "LogTable File Not Selected";
inline constexpr char kWrongLogName[] = "Did you select the correct Log Name?";
// The folder's path goes between the two parts.
inline constexpr char kNoLogNameHead[] = "The folder ";
inline constexpr char kNoLogNameTail[] =
    " has no name to give the ADIF file.\rPlease keep the log in a folder of its own.";
inline constexpr char kContestQuestion[] =
    "Select Contest ID or\rleave blank for non contest Log.\rYes to leave blank, No to select "
    "Contest ID.";
// The output path goes between head and tail.
inline constexpr char kOutputExistsHead[] = "Output File:\r";
inline constexpr char kOutputExistsTail[] = " already exists,\rDo you wish to overwrite it?";
inline constexpr char kAdifCreatedHead[] = "ADIF File:\r";
inline constexpr char kAdifCreatedTail[] = "\rhas been created.";
}  // namespace logvane::msg
