#include "app/command_router.h"

#include <QAction>

void CommandRouter::AddAction(QAction* action) {
  m_actions.push_back(action);
  connect(action, &QAction::triggered, this, [this, action] { Execute(action->data().toInt()); });
}

platform::CommandUi CommandRouter::Query(int id) const {
  platform::CommandUi ui{id};
  for (platform::CommandTarget* target : m_targets)
    if (target->OnUpdateCommand(ui)) return ui;
  for (const platform::CommandTarget* target : m_targets)
    if (target->HandlesCommand(id)) {
      ui.Enable(true);
      return ui;
    }
  return ui;
}

bool CommandRouter::Execute(int id) {
  bool ran = false;
  if (Query(id).enabled) {
    for (platform::CommandTarget* target : m_targets)
      if (target->HandlesCommand(id)) {
        ran = target->OnCommand(id);
        break;
      }
  }
  UpdateActions();
  return ran;
}

void CommandRouter::UpdateActions() {
  for (QAction* action : m_actions) {
    const platform::CommandUi ui = Query(action->data().toInt());
    action->setEnabled(ui.enabled);
    if (action->isCheckable()) action->setChecked(ui.checkable && ui.checked);
  }
}
