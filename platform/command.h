// Commands: identifiers, the enabling state an update handler fills in, and the interface
// of every object a command can be routed to.
#pragma once

namespace platform {

enum CommandId : int {
  ID_ZOOM_IN = 32771,
  ID_ZOOM_OUT = 32772,
  ID_FILE_NEW = 57600,
  ID_FILE_OPEN = 57601,
  ID_FILE_SAVE_AS = 57604,
  ID_EDIT_COPY = 57634,
  ID_EDIT_CUT = 57635,
  ID_EDIT_PASTE = 57637,
  ID_EDIT_UNDO = 57643,
  ID_APP_ABOUT = 57664,
  ID_APP_EXIT = 57665,
  ID_NEXT_PANE = 57680,
  ID_PREV_PANE = 57681,
  ID_VIEW_TOOLBAR = 59392,
  ID_VIEW_STATUS_BAR = 59393,
};

struct CommandUi {
  int id = 0;
  bool enabled = false;
  bool checkable = false;
  bool checked = false;

  void Enable(bool on) { enabled = on; }
  void SetCheck(bool on) {
    checkable = true;
    checked = on;
  }
};

class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  // True when this object has a handler for the command.
  virtual bool HandlesCommand(int id) const = 0;
  // Runs the command's handler; false when there is none.
  virtual bool OnCommand(int id) = 0;
  // Fills in the command's state when this object has an update handler for it.
  virtual bool OnUpdateCommand(CommandUi&) { return false; }
};

}  // namespace platform
