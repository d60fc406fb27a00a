// make-sample-log FOLDER: writes the bundled sample log into FOLDER.
#include <filesystem>
#include <iostream>

#include "tools/sample_log.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: make-sample-log FOLDER\n";
    return 2;
  }
  try {
    std::filesystem::create_directories(argv[1]);
    std::cout << logvane::tools::WriteSampleLog(argv[1]) << "\n";
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
