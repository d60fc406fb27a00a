// logvane-cli: the command-line tool for looking into tables.
#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

#include "cli/table_info.h"

int main(int argc, char** argv) {
  CLI::App app{"Logvane: look into log tables"};
  app.require_subcommand(1);

  std::string info_path;
  CLI::App* info = app.add_subcommand("info", "Show a table's definition");
  info->add_option("table", info_path, "The table's definition file (.mti)")->required();

  CLI11_PARSE(app, argc, argv);

  try {
    if (*info) logvane::cli::PrintTableInfo(std::cout, info_path);
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
