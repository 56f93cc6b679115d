// Sends each command to the first of view, document, frame and application that has a
// handler for it, and keeps the enabling and check marks of the command's actions current.
#pragma once

#include "platform/command.h"

#include <QObject>

#include <vector>

class QAction;

class CommandRouter : public QObject {
  Q_OBJECT

 public:
  // Targets in routing order.
  void SetTargets(std::vector<platform::CommandTarget*> targets) { m_targets = std::move(targets); }
  // An action whose data is a command identifier; triggering it runs the command.
  void AddAction(QAction* action);

  // The command's state: from the first update handler, else enabled exactly when some
  // target handles it.
  platform::CommandUi Query(int id) const;
  // Runs an enabled command, then refreshes every action. False when nothing ran.
  bool Execute(int id);
  void UpdateActions();

 private:
  std::vector<platform::CommandTarget*> m_targets;
  std::vector<QAction*> m_actions;
};
