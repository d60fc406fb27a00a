// The ADIF export: the open contact log, walked once in its current order,
// written as an ADIF text file.
//
// File layout (8-bit text, every line ending in CR LF, values byte for byte
// as the fields' text forms give them, lengths counting bytes):
//
//   <log name> - sorted by Sequence worked, exported from Tavisk database
//     yyyy-mm-dd @ hhnn UTC, using <caption>.<eoh>
//   then per contact four lines:
//   <call:n>.. <freq:n>.. <mode:n>.. <qso_date:8>yyyymmdd <time_on:n>..
//    <rst_sent:n>.. <stx:n>.. <rst_rcvd:n>.. <srx:n>..
//     <qth:n>.. <state:n>.. <comment:n>.. <cont:n>..
//      <name:n>.. <contest_id:n>.. <notes:n>.. <eor>
//
// (" - sorted by Call letters" for every sort choice but 0.) The call sign
// has each byte 0xD8 replaced by "0"; comment is "Comments, Country" or
// Country alone; notes is Name, " in City" when City is not empty, then
// " IBM" and " RET" for the two flags. The contact's fields are read with
// the fixed interchange settings (TFormatSettings::Interchange), so dates
// and numbers come out in one layout whatever the user's regional settings.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "component/dataset.h"

namespace logvane {

// The current time in UTC.
using UtcClock = std::function<std::chrono::system_clock::time_point()>;
std::chrono::system_clock::time_point SystemUtcNow();

// Raises the EInOutError of a text-file error code (platform/text_file.h)
// with its message, as below; does nothing for 0.
void CheckTextFileCode(int code);

// Writes the whole file at `output_path` (created or truncated) from the
// open cursor, starting at its first record; closes the file, then the
// cursor, and returns the number of lines written, 2 + 4 x contacts. The header's
// date and time come from one reading of `utc_now`.
//
// Errors stop the export where they happen: a file error raises EInOutError
// carrying the text-file code and its message ("File not found",
// "Invalid filename", "Too many open files", "File access denied",
// "Disk full", "I/O error <code>"); a field missing from the table raises
// EDatabaseError "<cursor name>: Field '<name>' not found" once the first
// contact is reached; any other cursor error passes through. After any
// error the cursor stays open; after a cursor error the file holds the
// header and the contacts before it.
int64_t WriteAdifFile(TDataSet& cursor, const std::string& output_path, const std::string& log_name,
                      int sort_choice, const std::string& caption, const std::string& contest_id,
                      const UtcClock& utc_now = SystemUtcNow);

// In place: "mm/dd/yyyy..." becomes "yyyymmdd"; any other text loses its
// 5th and then (of the shortened text) its 7th character where they exist,
// so "yyyy-mm-dd" and "yyyy/mm/dd" become "yyyymmdd". A text whose third
// character is "/" but which is shorter than 10 characters stays as it is.
void NormaliseAdifDate(std::string& date);

}  // namespace logvane
