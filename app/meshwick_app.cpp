#include "app/meshwick_app.h"

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "document/meshwick_doc.h"
#include "platform/dialogs.h"
#include "platform/profile.h"
#include "view/meshwick_view.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

constexpr int kDefaultShowState = CMainFrame::kShowMaximized;
const char* const kCannotOpen = "无法打开文件";

int StoredShowState(const platform::ProfileStore& profile) {
  const int state = profile.GetProfileInt("parameters", "CmdShow", kDefaultShowState);
  return state >= CMainFrame::kShowNormal && state <= CMainFrame::kShowMaximized ? state : kDefaultShowState;
}

}  // namespace

CMeshwickApp::CMeshwickApp(platform::DialogService& dialogs, platform::ProfileStore& profile)
    : m_dialogs(dialogs), m_profile(profile) {}

CMeshwickApp::~CMeshwickApp() {
  // The view refers to the document, so the frame (which owns the view) goes first.
  m_frame.reset();
  m_document.reset();
  if (m_translator) QCoreApplication::removeTranslator(m_translator.get());
}

bool CMeshwickApp::LoadQtTranslation() {
  auto translator = std::make_unique<QTranslator>();
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), "qtbase", "_",
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  QCoreApplication::installTranslator(translator.get());
  m_translator = std::move(translator);
  return true;
}

bool CMeshwickApp::InitInstance(const QStringList& arguments) {
  m_document = std::make_unique<CMeshwickDoc>(m_dialogs);
  m_frame = std::make_unique<CMainFrame>(m_router, m_profile);
  m_view = new CMeshwickView(*m_document, m_dialogs);
  m_frame->setCentralWidget(m_view);
  m_document->SetDialogParent(m_frame.get());
  m_document->SetChangeListener([this] { UpdateTitle(); });
  m_frame->SetCloseGuard([this] { return m_document->SaveModified(); });
  m_router.SetTargets({m_view, m_document.get(), m_frame.get(), this});
  QObject::connect(m_view, &CMeshwickView::gridChanged, &m_router, &CommandRouter::UpdateActions);
  if (!m_frame->OnCreate()) return false;

  OnFileNew();
  if (!arguments.isEmpty() && !OpenDocumentFile(arguments.front())) return false;

  m_frame->ShowWithState(StoredShowState(m_profile));
  return true;
}

void CMeshwickApp::UpdateTitle() {
  m_frame->SetDocumentTitle(m_document->GetTitle(), m_document->IsModified());
}

void CMeshwickApp::OnFileNew() {
  if (!m_document->SaveModified()) return;
  m_document->OnNewDocument();
  m_view->OnInitialUpdate();
  UpdateTitle();
}

bool CMeshwickApp::OpenDocumentFile(const QString& path) {
  if (!m_document->OnOpenDocument(path)) {
    m_dialogs.MessageBox(m_frame.get(), kCannotOpen);
    return false;
  }
  m_view->OnInitialUpdate();
  UpdateTitle();
  return true;
}

void CMeshwickApp::OnFileOpen() {
  if (!m_document->SaveModified()) return;
  const auto path = m_dialogs.GetOpenFileName(m_frame.get(), {"All Files (*)"});
  if (path) OpenDocumentFile(*path);
}

void CMeshwickApp::OnAppAbout() {
  CAboutDlg dialog(m_frame.get());
  m_dialogs.RunModal(dialog);
}

void CMeshwickApp::OnAppExit() {
  m_frame->close();
}

bool CMeshwickApp::HandlesCommand(int id) const {
  return id == platform::ID_FILE_NEW || id == platform::ID_FILE_OPEN || id == platform::ID_APP_ABOUT ||
         id == platform::ID_APP_EXIT;
}

bool CMeshwickApp::OnCommand(int id) {
  switch (id) {
    case platform::ID_FILE_NEW:
      OnFileNew();
      return true;
    case platform::ID_FILE_OPEN:
      OnFileOpen();
      return true;
    case platform::ID_APP_ABOUT:
      OnAppAbout();
      return true;
    case platform::ID_APP_EXIT:
      OnAppExit();
      return true;
    default:
      return false;
  }
}
