// The main window: menu, toolbar, status bar with its indicators, and the accelerator table.
#pragma once

#include "platform/command.h"

#include <QMainWindow>

#include <map>
#include <vector>

class CommandRouter;
class QAction;
class QLabel;
class QShortcut;
class QStatusBar;
class QToolBar;

namespace platform {
class ProfileStore;
}

class CMainFrame : public QMainWindow, public platform::CommandTarget {
  Q_OBJECT

 public:
  // Show states as stored in the profile.
  enum ShowState { kShowNormal = 1, kShowMinimized = 2, kShowMaximized = 3 };

  CMainFrame(CommandRouter& router, platform::ProfileStore& profile);

  // Builds the menu, toolbar, status bar and accelerators.
  bool OnCreate();
  // Stores the show state, then lets the window close.
  void OnClose();
  int CurrentShowState() const;
  void ShowWithState(int state);
  void SetDocumentTitle(const QString& title);

  bool HandlesCommand(int id) const override;
  bool OnCommand(int id) override;
  bool OnUpdateCommand(platform::CommandUi& ui) override;

  QToolBar* ToolBar() const { return m_wndToolBar; }
  QStatusBar* StatusBar() const { return m_wndStatusBar; }
  const std::vector<QShortcut*>& Accelerators() const { return m_accelerators; }
  QAction* MenuAction(int id) const;
  QAction* ToolBarAction(int id) const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* MakeAction(int id, const QString& text);
  void CreateMenu();
  bool CreateToolBar();
  bool CreateStatusBar();
  void CreateAccelerators();

  CommandRouter& m_router;
  platform::ProfileStore& m_profile;
  QStatusBar* m_wndStatusBar = nullptr;
  QToolBar* m_wndToolBar = nullptr;
  std::map<int, QAction*> m_actions;
  std::vector<QShortcut*> m_accelerators;
};
