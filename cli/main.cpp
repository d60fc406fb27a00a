// logvane-cli: the command-line tool for looking into tables and changing
// their records.
#include <CLI/CLI.hpp>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "app/caption.h"
#include "cli/check_command.h"
#include "cli/code_page.h"
#include "cli/log_export.h"
#include "cli/rebuild_command.h"
#include "cli/table_change.h"
#include "cli/table_dump.h"
#include "cli/table_info.h"

int main(int argc, char** argv) {
  CLI::App app{"Logvane: look into and change log tables"};
  app.require_subcommand(1);
  app.set_version_flag(
      "--version", [] { return logvane::ProgramCaption(); },
      "Print the program's version, as the window's caption shows it");

  // --filter and --filter-options, the same on dump and export.
  const std::vector<std::string> kFilterOptionNames = {"case-insensitive", "no-partial-compare"};
  std::string filter_text;
  std::vector<std::string> filter_options;
  auto add_filter_options = [&](CLI::App* command) {
    command->add_option("--filter", filter_text,
                        "Only the records that pass this filter expression, e.g. "
                        "\"Mode = 'CW' and Country = 'USA'\"");
    command
        ->add_option("--filter-options", filter_options,
                     "Comma-separated: case-insensitive, no-partial-compare")
        ->delimiter(',')
        ->check(CLI::IsMember(kFilterOptionNames));
  };

  std::string info_path;
  CLI::App* info = app.add_subcommand("info", "Show a table's definition");
  info->add_option("table", info_path, "The table's definition file (.mti)")->required();

  std::string dump_path, dump_index, dump_format = "jsonl";
  CLI::App* dump = app.add_subcommand("dump", "Print every record in the order of an index");
  dump->add_option("table", dump_path, "The table's definition file (.mti)")->required();
  dump->add_option("--index", dump_index, "The index giving the order (default: index 0)");
  dump->add_option("--format", dump_format, "Output format")
      ->check(CLI::IsMember({"jsonl", "csv"}));
  add_filter_options(dump);

  std::string check_path;
  CLI::App* check = app.add_subcommand(
      "check", "Tell whether a table is consistent; exit 0 consistent, 1 not, 2 unreadable");
  check->add_option("table", check_path, "The table's definition file (.mti)")->required();

  std::string rebuild_path, rebuild_backup;
  CLI::App* rebuild = app.add_subcommand(
      "rebuild",
      "Rebuild a table's free chain, indexes, blob free list and counters from its records, "
      "after copying its files into a backup folder; exit 0 rebuilt, 1 rebuilt with records or "
      "values set aside, 2 not rebuilt");
  rebuild->add_option("table", rebuild_path, "The table's definition file (.mti)")->required();
  rebuild->add_option("--backup", rebuild_backup,
                      "The backup folder (default: a new folder beside the table named after "
                      "the table and the time)");

  logvane::TExportRequest request;
  std::string order = "sequence";
  CLI::App* exp = app.add_subcommand("export", "Write a log folder's contacts to its ADIF file");
  exp->add_option("logfolder", request.log_folder, "The log's folder, holding LogTabl.mti")
      ->required();
  exp->add_option("--order", order, "Contact order: sequence (worked) or call (letters)")
      ->check(CLI::IsMember({"sequence", "call"}));
  exp->add_option("--contest", request.contest_id, "Contest identifier (upper-cased)");
  exp->add_option("--output", request.output_path,
                  "Output file (default: LOGFOLDER/<log name>.ADI)");
  exp->add_flag("--overwrite", request.overwrite, "Replace an existing output file");
  std::string export_format = "adif1";
  exp->add_option("--format", export_format,
                  "adif1: the desktop program's file (default); adif3: ADIF 3 for upload")
      ->check(CLI::IsMember({"adif1", "adif3"}));
  add_filter_options(exp);

  std::string load_path, load_input;
  CLI::App* load = app.add_subcommand("load", "Add one record per JSON line, as dump writes them");
  load->add_option("table", load_path, "The table's definition file (.mti)")->required();
  load->add_option("--input", load_input, "The JSON lines file (default: standard input)");

  // --filter on update and delete is required: an empty one chooses every
  // record.
  std::string change_path, change_index;
  std::vector<std::string> settings;
  auto add_change_options = [&](CLI::App* command) {
    command->add_option("table", change_path, "The table's definition file (.mti)")->required();
    command
        ->add_option("--filter", filter_text,
                     "The records to change: those that pass this filter expression (\"\" for "
                     "every record)")
        ->required();
    command
        ->add_option("--filter-options", filter_options,
                     "Comma-separated: case-insensitive, no-partial-compare")
        ->delimiter(',')
        ->check(CLI::IsMember(kFilterOptionNames));
    command->add_option("--index", change_index,
                        "The index giving the order of the changes (default: index 0)");
  };
  CLI::App* update = app.add_subcommand("update", "Set fields of the records that pass a filter");
  add_change_options(update);
  update
      ->add_option("--set", settings,
                   "FIELD=VALUE; decimal point '.', dates mm/dd/yyyy [hh:nn:ss], TRUE/FALSE; "
                   "an empty VALUE clears the field")
      ->required();
  CLI::App* del = app.add_subcommand("delete", "Delete the records that pass a filter");
  add_change_options(del);

  CLI11_PARSE(app, argc, argv);

  logvane::cli::TFilterRequest filter;
  try {
    filter = logvane::cli::MakeFilterRequest(filter_text, filter_options);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }

  if (*check) return logvane::cli::RunTableCheck(std::cout, std::cerr, check_path);
  if (*rebuild)
    return logvane::cli::RunTableRebuild(std::cout, std::cerr, rebuild_path, rebuild_backup);
  if (*load) {
    if (load_input.empty())
      return logvane::cli::LoadRecords(load_path, std::cin, std::cout, std::cerr);
    std::ifstream input(load_input, std::ios::binary);
    if (!input) {
      std::cerr << load_input << ": cannot be read\n";
      return 1;
    }
    return logvane::cli::LoadRecords(load_path, input, std::cout, std::cerr);
  }
  if (*update)
    return logvane::cli::UpdateRecords(change_path, filter, settings, change_index, std::cout,
                                       std::cerr);
  if (*del)
    return logvane::cli::DeleteRecords(change_path, filter, change_index, std::cout, std::cerr);

  if (*exp) {
    request.sort_choice = order == "call" ? 1 : 0;
    request.caption = logvane::ProgramCaption();
    return logvane::cli::RunExport(request, std::cout, std::cerr,
                                   export_format == "adif3" ? logvane::cli::ExportFormat::kAdif3
                                                            : logvane::cli::ExportFormat::kAdif1,
                                   filter);
  }

  try {
    std::ios::sync_with_stdio(false);
    if (*info) logvane::cli::PrintTableInfo(std::cout, info_path);
    if (*dump && dump_format == "csv")
      logvane::cli::DumpTableCsv(std::cout, dump_path, dump_index,
                                 logvane::TFormatSettings::FromUserLocale(), filter);
    else if (*dump)
      logvane::cli::DumpTableJson(std::cout, dump_path, dump_index, filter);
    std::cout.flush();
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << logvane::cli::MessageForTerminal(e.what()) << "\n";
    return 1;
  }
  return 0;
}
