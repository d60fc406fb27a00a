// Contact logs as the logging program keeps them: the table layout that a
// log export reads, and a writer that makes such a table — definition, data
// file, indexes and blob file — from contacts produced one at a time. The
// sample log and the export benchmark are made with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/table_writer.h"

namespace logvane::tools {

struct Contact {
  std::string call;
  double qso_date = 0;  // days since 30 December 1899
  std::string time_start;
  double freq = 0;
  std::string mode;
  std::string name;
  std::string city;
  std::string state;
  std::string country;
  std::string continent;
  std::string rst_sent;
  std::string rst_rcvd;
  int32_t num_rcvd = 0;
  bool ibm = false;
  bool retired = false;
  std::string comments;  // stored as a memo when not empty
};

// The log table's fields, in the table's order.
enum LogField {
  kNumSent,
  kCall,
  kQsoDate,
  kTimeStart,
  kFreq,
  kMode,
  kName,
  kCity,
  kState,
  kCountry,
  kContinent,
  kRstSent,
  kRstRcvd,
  kNumRcvd,
  kIbm,
  kRetired,
  kComments,
};

struct ContactLogOptions {
  double format_version = 4.0;
  // Every n-th slot of the data file is left free (0: none).
  int free_slot_every = 0;
};

// The log's table: NumSent (the primary index "NumSentIndx"), the contact's
// fields, and the case-insensitive index "Call".
TableDescription ContactLogDescription(double format_version = 4.0);

// Writes LogTabl.mti with its data, index and blob files into `folder`
// (which must exist), asking `make` for contacts 0 .. count-1; contact i
// gets the serial number i + 1. Returns the definition file's path.
std::string WriteContactLog(const std::string& folder, int count,
                            const std::function<void(int, Contact&)>& make,
                            const ContactLogOptions& options = {});

}  // namespace logvane::tools
