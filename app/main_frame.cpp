#include "app/main_frame.h"

#include "app/command_router.h"
#include "app/string_table.h"
#include "app/toolbar_images.h"
#include "platform/profile.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QToolBar>

namespace {

using namespace platform;

struct MenuItem {
  int id;  // 0: separator
  const char* text;
};

struct Popup {
  const char* title;
  std::vector<MenuItem> items;
};

const std::vector<Popup>& MenuTemplate() {
  static const std::vector<Popup> menu{
      {"文件(&F)",
       {{ID_FILE_NEW, "新建(&N)\tCtrl+N"},
        {ID_FILE_OPEN, "打开(&O)...\tCtrl+O"},
        {ID_FILE_SAVE_AS, "保存(&A)..."},
        {0, nullptr},
        {ID_APP_EXIT, "退出(&X)"}}},
      {"编辑(&E)",
       {{ID_EDIT_UNDO, "撤销(&U)\tCtrl+Z"},
        {0, nullptr},
        {ID_EDIT_CUT, "剪切(&T)\tCtrl+X"},
        {ID_EDIT_COPY, "复制(&C)\tCtrl+C"},
        {ID_EDIT_PASTE, "粘贴(&P)\tCtrl+V"}}},
      {"查看(&V)", {{ID_VIEW_TOOLBAR, "工具栏(&T)"}, {ID_VIEW_STATUS_BAR, "状态栏(&S)"}}},
      {"帮助(&H)", {{ID_APP_ABOUT, "关于Meshwick(&A)..."}}},
  };
  return menu;
}

const int kToolBarTemplate[] = {ID_FILE_NEW,  ID_FILE_OPEN, ID_FILE_SAVE_AS, 0,
                                ID_EDIT_CUT,  ID_EDIT_COPY, ID_EDIT_PASTE,   0,
                                ID_APP_ABOUT, ID_ZOOM_IN,   ID_ZOOM_OUT};

const char* const kToolBarTitle = "工具栏";

const char* const kIndicators[] = {"CAP", "NUM", "SCRL"};

}  // namespace

CMainFrame::CMainFrame(CommandRouter& router, platform::ProfileStore& profile)
    : m_router(router), m_profile(profile) {
  setWindowTitle(strings::kAppTitle);
  setWindowIcon(ApplicationIcon());
}

QAction* CMainFrame::MakeAction(int id, const QString& text) {
  auto* action = new QAction(text, this);
  action->setData(id);
  action->setStatusTip(strings::StatusPrompt(id));
  action->setToolTip(strings::ToolTip(id));
  if (id == ID_VIEW_TOOLBAR || id == ID_VIEW_STATUS_BAR) action->setCheckable(true);
  m_router.AddAction(action);
  m_actions[id] = action;
  return action;
}

QAction* CMainFrame::MenuAction(int id) const {
  for (const QAction* popup : menuBar()->actions())
    for (QAction* item : popup->menu()->actions())
      if (!item->isSeparator() && item->data().toInt() == id) return item;
  return nullptr;
}

QAction* CMainFrame::ToolBarAction(int id) const {
  for (QAction* action : m_wndToolBar->actions())
    if (!action->isSeparator() && action->data().toInt() == id) return action;
  return nullptr;
}

bool CMainFrame::OnCreate() {
  CreateMenu();
  if (!CreateToolBar() || !CreateStatusBar()) return false;
  CreateAccelerators();
  m_router.UpdateActions();
  return true;
}

void CMainFrame::CreateMenu() {
  for (const Popup& popup : MenuTemplate()) {
    QMenu* menu = menuBar()->addMenu(popup.title);
    // Update handlers run before the menu shows.
    connect(menu, &QMenu::aboutToShow, &m_router, &CommandRouter::UpdateActions);
    for (const MenuItem& item : popup.items) {
      if (item.id == 0)
        menu->addSeparator();
      else
        menu->addAction(MakeAction(item.id, item.text));
    }
  }
}

bool CMainFrame::CreateToolBar() {
  m_wndToolBar = new QToolBar(this);
  m_wndToolBar->setObjectName("AFX_IDW_TOOLBAR");
  // The title names the bar in the window's right-click menu and when it floats.
  m_wndToolBar->setWindowTitle(kToolBarTitle);
  m_wndToolBar->setIconSize(QSize(kToolbarImageWidth, kToolbarImageHeight));
  m_wndToolBar->setMovable(true);
  m_wndToolBar->setFloatable(true);
  m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
  for (const int id : kToolBarTemplate) {
    if (id == 0) {
      m_wndToolBar->addSeparator();
      continue;
    }
    const auto existing = m_actions.find(id);
    QAction* action = existing != m_actions.end() ? existing->second : MakeAction(id, strings::ToolTip(id));
    action->setIcon(QIcon(ToolbarImage(id)));
    m_wndToolBar->addAction(action);
  }
  addToolBar(Qt::TopToolBarArea, m_wndToolBar);
  return true;
}

bool CMainFrame::CreateStatusBar() {
  m_wndStatusBar = new QStatusBar(this);
  m_wndStatusBar->setObjectName("AFX_IDW_STATUS_BAR");
  // The message pane falls back to the idle text whenever a prompt is taken away.
  connect(m_wndStatusBar, &QStatusBar::messageChanged, m_wndStatusBar, [this](const QString& message) {
    if (message.isEmpty()) m_wndStatusBar->showMessage(strings::kIdleMessage);
  });
  for (const char* indicator : kIndicators) {
    auto* pane = new QLabel(indicator, m_wndStatusBar);
    pane->setObjectName(indicator);
    pane->setFrameShape(QFrame::Panel);
    pane->setFrameShadow(QFrame::Sunken);
    // The lock-key states cannot be read portably, so the panes are shown dimmed.
    pane->setEnabled(false);
    m_wndStatusBar->addPermanentWidget(pane);
  }
  setStatusBar(m_wndStatusBar);
  m_wndStatusBar->showMessage(strings::kIdleMessage);
  return true;
}

// Only the keypad's plus and minus zoom: the keypad modifier keeps the main keyboard's
// plus and minus unbound.
const std::vector<Accelerator>& CMainFrame::AcceleratorTable() {
  static const std::vector<Accelerator> table{
      {Qt::CTRL | Qt::Key_C, ID_EDIT_COPY},
      {Qt::CTRL | Qt::Key_N, ID_FILE_NEW},
      {Qt::CTRL | Qt::Key_O, ID_FILE_OPEN},
      {Qt::CTRL | Qt::Key_S, ID_FILE_SAVE_AS},
      {Qt::CTRL | Qt::Key_V, ID_EDIT_PASTE},
      {Qt::KeypadModifier | Qt::Key_Plus, ID_ZOOM_IN},
      {Qt::ALT | Qt::Key_Backspace, ID_EDIT_UNDO},
      {Qt::SHIFT | Qt::Key_Delete, ID_EDIT_CUT},
      {QKeyCombination(Qt::Key_F6), ID_NEXT_PANE},
      {Qt::SHIFT | Qt::Key_F6, ID_PREV_PANE},
      {Qt::CTRL | Qt::Key_Insert, ID_EDIT_COPY},
      {Qt::SHIFT | Qt::Key_Insert, ID_EDIT_PASTE},
      {Qt::KeypadModifier | Qt::Key_Minus, ID_ZOOM_OUT},
      {Qt::CTRL | Qt::Key_X, ID_EDIT_CUT},
      {Qt::CTRL | Qt::Key_Z, ID_EDIT_UNDO},
  };
  return table;
}

int CMainFrame::AcceleratorCommand(const QKeyEvent& event) {
  const Qt::KeyboardModifiers pressed = event.modifiers();
  for (const Accelerator& accelerator : AcceleratorTable()) {
    if (accelerator.key.key() != event.key()) continue;
    const Qt::KeyboardModifiers wanted = accelerator.key.keyboardModifiers();
    const Qt::KeyboardModifiers relevant =
        wanted.testFlag(Qt::KeypadModifier) ? pressed : (pressed & ~Qt::KeypadModifier);
    if (relevant == wanted) return accelerator.id;
  }
  return 0;
}

// Qt's shortcut map does not tell the keypad's plus from the main keyboard's, so the table
// is matched here, before the focused widget sees the key.
void CMainFrame::CreateAccelerators() {
  qApp->installEventFilter(this);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  const auto* widget = qobject_cast<const QWidget*>(watched);
  if (!widget || widget->window() != this) return false;
  const int id = AcceleratorCommand(*static_cast<const QKeyEvent*>(event));
  if (id == 0) return false;
  m_router.Execute(id);
  return true;
}

int CMainFrame::CurrentShowState() const {
  if (isMinimized()) return kShowMinimized;
  if (isMaximized()) return kShowMaximized;
  return kShowNormal;
}

void CMainFrame::ShowWithState(int state) {
  // The size the window has when shown normally, or restored from maximised.
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    resize(screen->availableGeometry().size() * 3 / 4);
  switch (state) {
    case kShowNormal:
      showNormal();
      break;
    case kShowMinimized:
      showMinimized();
      break;
    default:
      showMaximized();
      break;
  }
}

void CMainFrame::SetDocumentTitle(const QString& title, bool modified) {
  setWindowTitle(title + (modified ? "*" : "") + " - " + strings::kAppTitle);
}

void CMainFrame::OnClose() {
  m_profile.WriteProfileInt("parameters", "CmdShow", CurrentShowState());
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (m_closeGuard && !m_closeGuard()) {
    event->ignore();
    return;
  }
  OnClose();
  event->accept();
}

bool CMainFrame::HandlesCommand(int id) const {
  return id == ID_VIEW_TOOLBAR || id == ID_VIEW_STATUS_BAR;
}

bool CMainFrame::OnCommand(int id) {
  if (id == ID_VIEW_TOOLBAR) {
    m_wndToolBar->setHidden(!m_wndToolBar->isHidden());
    return true;
  }
  if (id == ID_VIEW_STATUS_BAR) {
    m_wndStatusBar->setHidden(!m_wndStatusBar->isHidden());
    return true;
  }
  return false;
}

bool CMainFrame::OnUpdateCommand(platform::CommandUi& ui) {
  if (ui.id == ID_VIEW_TOOLBAR) {
    ui.Enable(true);
    ui.SetCheck(m_wndToolBar && !m_wndToolBar->isHidden());
    return true;
  }
  if (ui.id == ID_VIEW_STATUS_BAR) {
    ui.Enable(true);
    ui.SetCheck(m_wndStatusBar && !m_wndStatusBar->isHidden());
    return true;
  }
  return false;
}
