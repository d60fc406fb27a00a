// The program: one running copy per user, one window.
#include <QApplication>

#include "app/log_source.h"
#include "app/main_window.h"
#include "app/system_host.h"
#include "platform/single_instance.h"

int main(int argc, char** argv) {
  // Another copy is running: end at once, with no window and no message.
  // (When the lock cannot be used at all, the program runs regardless.)
  if (logvane::platform::TakeInstanceLock("Logvane") ==
      logvane::platform::TInstanceLock::kHeldElsewhere) {
    return 0;
  }

  QApplication app(argc, argv);
  QApplication::setApplicationName("Logvane");
  QGuiApplication::setDesktopFileName("logvane");

  logvane::TLogSource source = logvane::MakeLogSource();
  logvane::TSystemHost host;
  logvane::TLogvaneWindow window(*source.table, source.export_file, host);
  window.show();
  return QApplication::exec();
}
