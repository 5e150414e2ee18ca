// The program's pictures: the toolbar's commands in four sizes, the items of
// the two views, and the states of the process log.
#pragma once

#include <QIcon>
#include <cstdint>

namespace restorix::Icons {

enum Id {
  Wizard,
  Find,
  FindNext,
  SaveAll,
  SaveSelected,
  GotoParent,
  Buy,
  Update,
  Contents,
  Stop,
  Disk,
  Process,
  File,
  Calendar,
};

QIcon Get(Id id);
// A folder or file of the contents list, live or deleted (with a red cross).
QIcon Item(bool folder, bool live);
// A folder of the folder tree: it shows open while it is selected.
QIcon TreeFolder(bool live);
// The process log's states: started (a blue information balloon), aborted
// (a red circle with a white cross), completed (a green circle with a white
// tick).
QIcon LogStatus(std::uint8_t status);

}  // namespace restorix::Icons
