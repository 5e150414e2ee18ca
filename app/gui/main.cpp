// restorix-gui: the desktop program.
#include <QApplication>

#include "gui/main_frame.h"
#include "gui/startup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle("Fusion");
  const auto started = restorix::StartUp(QApplication::arguments());
  if (!started) return 1;
  return QApplication::exec();
}
