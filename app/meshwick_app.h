// The application: start-up, the one document with its frame and view, and the commands
// the application itself handles (new, open, About, exit).
#pragma once

#include "app/command_router.h"
#include "platform/command.h"

#include <QStringList>

#include <memory>

class CMainFrame;
class CMeshwickDoc;
class CMeshwickView;
class QTranslator;

namespace platform {
class DialogService;
class ProfileStore;
}  // namespace platform

class CMeshwickApp : public platform::CommandTarget {
 public:
  CMeshwickApp(platform::DialogService& dialogs, platform::ProfileStore& profile);
  ~CMeshwickApp() override;

  // Loads Qt's own Chinese texts (dialog buttons and the like) when they are installed.
  bool LoadQtTranslation();
  // Creates document, frame and view, shows the window with the stored show state, then
  // places the pictures named on the command line (arguments without the program name).
  bool InitInstance(const QStringList& arguments);

  void OnFileNew();
  void OnFileOpen();
  void OnAppAbout();
  void OnAppExit();

  bool HandlesCommand(int id) const override;
  bool OnCommand(int id) override;

  CMainFrame* MainFrame() const { return m_frame.get(); }
  CMeshwickDoc* Document() const { return m_document.get(); }
  CMeshwickView* View() const { return m_view; }
  CommandRouter& Router() { return m_router; }

 private:
  void UpdateTitle();

  platform::DialogService& m_dialogs;
  platform::ProfileStore& m_profile;
  CommandRouter m_router;
  std::unique_ptr<QTranslator> m_translator;
  std::unique_ptr<CMeshwickDoc> m_document;
  std::unique_ptr<CMainFrame> m_frame;
  CMeshwickView* m_view = nullptr;  // owned by the frame
};
