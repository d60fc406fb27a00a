// `logvane-cli check`.
#include "cli/check_command.h"

#include "engine/table_check.h"

namespace logvane::cli {

int RunTableCheck(std::ostream& out, std::ostream& err, const std::string& mti_path) {
  const TTableCheckReport report = CheckTable(mti_path);
  if (!report.readable) {
    err << "cannot read the table: " << report.cause << "\n";
    return report.ExitCode();
  }
  if (report.writer_present)
    err << "note: another program has the table open for writing; its free-record chain is "
           "written when it closes the table and is not checked\n";
  for (const std::string& line : report.problems) out << line << "\n";
  out << report.problem_count << (report.problem_count == 1 ? " problem" : " problems") << "\n";
  return report.ExitCode();
}

}  // namespace logvane::cli
