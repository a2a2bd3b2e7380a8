#include "shell/app_ui.h"

namespace varnholt_app {

void AppUI::onDestroy() {
  runs_.onDestroy();
  history_.onDestroy();
  page_.setWindowExists(false);
  platform_.quitMessageLoop(0);
}

bool AppUI::onTimer(Timer id) {
  switch (id) {
    case Timer::SelectionGrace:
      page_.onSelectionGraceOver();
      return true;
    case Timer::FolderDebounce:
    case Timer::PeriodicRescan:
    case Timer::RootPoll:
      runs_.onTimer(id);
      return true;
  }
  return false;
}

}  // namespace varnholt_app
