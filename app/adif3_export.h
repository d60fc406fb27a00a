// The ADIF 3 form of the export, for users who upload their log to services
// and loggers that read ADIF 3 strictly. The default form (adif_export.h)
// stays the desktop program's.
//
// File layout (every line ending in CR LF, tags in upper case, lengths
// counting the bytes written):
//
//   <log name> - sorted by Sequence worked, exported from Tavisk database
//     yyyy-mm-dd @ hhnn UTC using Logvane <version>          (one line)
//   <ADIF_VER:5>3.1.7
//   <PROGRAMID:7>Logvane
//   <PROGRAMVERSION:n><version>
//   <CREATED_TIMESTAMP:15>yyyymmdd hhmmss
//   <EOH>
//   then one line per contact:
//   <CALL:n>.. <QSO_DATE:8>.. <TIME_ON:n>.. <BAND:n>.. <FREQ:n>.. <MODE:n>..
//   <SUBMODE:n>.. <RST_SENT:n>.. <STX:n>.. <RST_RCVD:n>.. <SRX:n>.. <NAME:n>..
//   <QTH:n>.. <STATE:n>.. <CONT:n>.. <COMMENT:n>.. <CONTEST_ID:n>..
//   <NOTES:n>.. <EOR>
//
// A field whose value is empty is left out. The contact's values are those
// of the default form (the call with Ø as 0, the comment "Comments, Country",
// the notes "Name in City IBM RET") in the ADIF 3 data types
// (adif3_values.h): FREQ a Number, QSO_DATE eight digits, TIME_ON four or
// six; a value that cannot be of its type is left out. BAND is the band of
// FREQ; MODE and SUBMODE come from the mode enumeration, a mode outside it
// is written as logged. The serials are STX and SRX when they are whole
// numbers, else STX_STRING and SRX_STRING. Every field but NOTES is one line:
// the lines of a memo are joined by "; ". Text is ASCII: letters above 0x7F
// in their closest ASCII form, any other byte outside it as "?".
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "app/adif_export.h"
#include "app/cursor_log_table.h"
#include "component/dataset.h"

namespace logvane {

// What a strict ADIF 3 reader may refuse or miss, counted over the export.
struct Adif3Summary {
  int64_t contacts = 0;
  // Lines the export ended: the header's and one per contact (the lines a
  // NOTES value holds are its own).
  int64_t lines = 0;
  // Fields with bytes outside ASCII, written in their closest ASCII form.
  int64_t ascii_fields = 0;
  // Contacts whose mode is in neither the MODE nor the SUBMODE enumeration;
  // it is written as logged.
  int64_t unknown_modes = 0;
  // Contacts whose continent is not one of the Continent enumeration; it is
  // written as logged.
  int64_t unknown_continents = 0;
  // Values left out because they cannot be of their ADIF type.
  int64_t frequencies_left_out = 0;
  int64_t dates_left_out = 0;
  int64_t times_left_out = 0;
  // Contacts without a call, a date, a time on, a band or frequency, or a
  // mode: written all the same.
  int64_t incomplete_contacts = 0;
};

// Writes the ADIF 3 file at `output_path` (created or truncated) from the
// open cursor, starting at its first record, as WriteAdifFile does: the
// file, then the cursor, is closed at the end; errors are raised and stop
// the export in the same way. `program_version` goes into PROGRAMVERSION
// and the free-text line (left out when empty); `contest_id` is written
// when not empty.
Adif3Summary WriteAdif3File(TDataSet& cursor, const std::string& output_path,
                            const std::string& log_name, int sort_choice,
                            const std::string& program_version, const std::string& contest_id,
                            const UtcClock& utc_now = SystemUtcNow);

// The export hook (app/log_table.h) writing the ADIF 3 form on tables
// wrapped as TCursorLogTable<Cursor>. The header names the program by
// `program_version`; the caption the hook is handed is not used. Each
// export's summary is stored in *summary and its `lines` returned.
template <typename Cursor>
TAdifExport Adif3ExportOf(std::string program_version, Adif3Summary* summary,
                          UtcClock utc_now = SystemUtcNow) {
  return [program_version = std::move(program_version), summary, utc_now = std::move(utc_now)](
             TLogTable& table, const std::string& output_path, const std::string& log_name,
             int sort_choice, const std::string& /*caption*/, const std::string& contest_id) {
    auto* wrapped = dynamic_cast<TCursorLogTable<Cursor>*>(&table);
    if (wrapped == nullptr) throw Exception("The export was handed a table it cannot read");
    *summary = WriteAdif3File(wrapped->cursor(), output_path, log_name, sort_choice,
                              program_version, contest_id, utc_now);
    return summary->lines;
  };
}

}  // namespace logvane
