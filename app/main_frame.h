// The main window: menu, toolbar, status bar with its indicators, and the accelerator table.
#pragma once

#include "platform/command.h"

#include <QMainWindow>

#include <functional>
#include <map>
#include <vector>

class CommandRouter;
class QAction;
class QLabel;
class QKeyEvent;
class QStatusBar;
class QToolBar;

namespace platform {
class ProfileStore;
}

// One entry of the accelerator table. A key with the keypad modifier matches only the
// keypad's key; any other entry matches its key wherever it is on the keyboard.
struct Accelerator {
  QKeyCombination key;
  int id;
};

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
  // "name - Meshwick", with a star after the name while there are unsaved changes.
  void SetDocumentTitle(const QString& title, bool modified);
  // Asked before the window closes; false keeps it open.
  void SetCloseGuard(std::function<bool()> guard) { m_closeGuard = std::move(guard); }

  bool HandlesCommand(int id) const override;
  bool OnCommand(int id) override;
  bool OnUpdateCommand(platform::CommandUi& ui) override;

  QToolBar* ToolBar() const { return m_wndToolBar; }
  QStatusBar* StatusBar() const { return m_wndStatusBar; }
  static const std::vector<Accelerator>& AcceleratorTable();
  // The command a key press in this window stands for, or 0.
  static int AcceleratorCommand(const QKeyEvent& event);
  QAction* MenuAction(int id) const;
  QAction* ToolBarAction(int id) const;

 protected:
  void closeEvent(QCloseEvent* event) override;
  // Key presses anywhere in this window are checked against the accelerator table first.
  bool eventFilter(QObject* watched, QEvent* event) override;

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
  std::function<bool()> m_closeGuard;
};
