#include "app/meshwick_app.h"

#include "app/about_dlg.h"
#include "app/main_frame.h"
#include "app/string_table.h"
#include "app/toolbar_images.h"
#include "document/cell_size_dlg.h"
#include "document/meshwick_doc.h"
#include "platform/profile.h"
#include "tests/document/test_support.h"
#include "view/meshwick_view.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLibraryInfo>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>

#include <gtest/gtest.h>

namespace {

using namespace platform;

class MeshwickAppTest : public ::testing::Test {
 protected:
  MeshwickAppTest() {
    m_dialogs.onModal = [](QDialog& dialog) {
      if (auto* cell = dynamic_cast<CCellSizeDlg*>(&dialog)) cell->CancelButton()->click();
      return dialog.result();
    };
  }
  std::unique_ptr<CMeshwickApp> Start(const QStringList& arguments = {}) {
    auto app = std::make_unique<CMeshwickApp>(m_dialogs, m_profile);
    EXPECT_TRUE(app->InitInstance(arguments));
    return app;
  }
  QString Bitmap(const char* name) {
    const QString path = m_dir.filePath(name);
    test::WriteFile(path,
                    test::MakeBmp24(20, 10, [](int x, int y) { return static_cast<std::uint32_t>(x * y); }));
    return path;
  }
  // Places a picture the way a user does: a double-click in the view.
  void PlaceThroughView(CMeshwickApp& app, QPoint at = {5, 5}) {
    m_dialogs.openAnswers.push_back(Bitmap("p.bmp"));
    app.View()->OnLButtonDblClk(at);
  }

  QTemporaryDir m_dir;
  ProfileStore m_profile{m_dir.filePath("profile.ini")};
  test::FakeDialogs m_dialogs;
};

TEST_F(MeshwickAppTest, UntitledDocumentTitle) {
  auto app = Start();
  EXPECT_EQ(app->MainFrame()->windowTitle(), "无标题 - Meshwick");
}

TEST_F(MeshwickAppTest, MenuHasThePopupsAndItemsInOrder) {
  auto app = Start();
  QStringList shown;
  for (const QAction* popup : app->MainFrame()->menuBar()->actions()) {
    shown << popup->text();
    for (const QAction* item : popup->menu()->actions())
      shown << (item->isSeparator() ? QString("-")
                                    : item->text() + "=" + QString::number(item->data().toInt()));
  }
  const QStringList expected{"文件(&F)",
                             "新建(&N)\tCtrl+N=57600",
                             "打开(&O)...\tCtrl+O=57601",
                             "保存(&A)...=57604",
                             "-",
                             "退出(&X)=57665",
                             "编辑(&E)",
                             "撤销(&U)\tCtrl+Z=57643",
                             "-",
                             "剪切(&T)\tCtrl+X=57635",
                             "复制(&C)\tCtrl+C=57634",
                             "粘贴(&P)\tCtrl+V=57637",
                             "查看(&V)",
                             "工具栏(&T)=59392",
                             "状态栏(&S)=59393",
                             "帮助(&H)",
                             "关于Meshwick(&A)...=57664"};
  EXPECT_EQ(shown, expected);
}

TEST_F(MeshwickAppTest, ToolbarHasElevenEntriesWithSixteenByFifteenImages) {
  auto app = Start();
  const QToolBar* toolbar = app->MainFrame()->ToolBar();
  EXPECT_EQ(toolbar->iconSize(), QSize(16, 15));
  QList<int> ids;
  for (const QAction* action : toolbar->actions())
    ids << (action->isSeparator() ? 0 : action->data().toInt());
  EXPECT_EQ(ids, (QList<int>{ID_FILE_NEW, ID_FILE_OPEN, ID_FILE_SAVE_AS, 0, ID_EDIT_CUT, ID_EDIT_COPY,
                             ID_EDIT_PASTE, 0, ID_APP_ABOUT, ID_ZOOM_IN, ID_ZOOM_OUT}));
  std::vector<QImage> images;
  for (const int id : ids) {
    if (id == 0) continue;
    const QPixmap pixmap = ToolbarImage(id);
    EXPECT_EQ(pixmap.size(), QSize(16, 15)) << id;
    images.push_back(pixmap.toImage());
  }
  for (std::size_t i = 0; i < images.size(); ++i)
    for (std::size_t j = i + 1; j < images.size(); ++j) EXPECT_NE(images[i], images[j]) << i << " " << j;
}

// The window's right-click menu lists the bars by their titles; a blank entry helps nobody.
TEST_F(MeshwickAppTest, ToolbarIsNamedInTheWindowsBarMenu) {
  auto app = Start();
  EXPECT_EQ(app->MainFrame()->ToolBar()->windowTitle(), "工具栏");
  std::unique_ptr<QMenu> menu(app->MainFrame()->createPopupMenu());
  ASSERT_NE(menu, nullptr);
  QStringList entries;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) entries << action->text();
  EXPECT_EQ(entries, QStringList{"工具栏"});
}

TEST_F(MeshwickAppTest, PromptsAndTooltipsComeFromTheStringTable) {
  auto app = Start();
  struct Case {
    int id;
    const char* prompt;
    const char* tip;
  } cases[] = {{ID_FILE_NEW, "创建一个新文档", "New"},
               {ID_FILE_OPEN, "打开一个现有文件", "Open"},
               {ID_FILE_SAVE_AS, "重命名来保存活动文档", "Save As"},
               {ID_APP_EXIT, "退出这个应用程序; 提示保存文档", "Exit"},
               {ID_APP_ABOUT, "显示程序信息, 版本号和版权信息", "About"},
               {ID_EDIT_UNDO, "撤销最后一步操作", "Undo"},
               {ID_EDIT_CUT, "剪切选择到剪切板", "Cut"},
               {ID_EDIT_COPY, "复制选择并复制到剪切板", "Copy"},
               {ID_EDIT_PASTE, "插入剪贴板内容", "Paste"},
               {ID_VIEW_TOOLBAR, "显示或隐藏工具条", "Toggle ToolBar"},
               {ID_VIEW_STATUS_BAR, "显示或隐藏状态栏", "Toggle StatusBar"}};
  for (const Case& c : cases) {
    const QAction* action = app->MainFrame()->MenuAction(c.id);
    ASSERT_NE(action, nullptr) << c.id;
    EXPECT_EQ(action->statusTip(), c.prompt);
    EXPECT_EQ(action->toolTip(), c.tip);
  }
  for (const int id : {ID_ZOOM_IN, ID_ZOOM_OUT}) {
    const QAction* action = app->MainFrame()->ToolBarAction(id);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->statusTip(), id == ID_ZOOM_IN ? "放大" : "缩小");
    EXPECT_EQ(action->toolTip(), id == ID_ZOOM_IN ? "放大" : "缩小");
    EXPECT_EQ(app->MainFrame()->MenuAction(id), nullptr);  // no zoom entry in the menu
  }
  EXPECT_EQ(strings::CommandString(ID_NEXT_PANE), "分割到下一个窗口边缘\nNext Pane");
  EXPECT_EQ(strings::CommandString(ID_PREV_PANE), "分割到原先窗口边缘\nPrevious Pane");
}

TEST_F(MeshwickAppTest, StatusBarShowsTheIdleTextAndThreeIndicators) {
  auto app = Start();
  QStatusBar* bar = app->MainFrame()->StatusBar();
  EXPECT_EQ(bar->currentMessage(), "准备");
  bar->showMessage("x");
  bar->clearMessage();
  EXPECT_EQ(bar->currentMessage(), "准备");
  QStringList panes;
  for (const QLabel* label : bar->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
    panes << label->text();
  EXPECT_EQ(panes, (QStringList{"CAP", "NUM", "SCRL"}));
}

TEST_F(MeshwickAppTest, AcceleratorTableMapsKeysToCommands) {
  QStringList table;
  for (const Accelerator& accelerator : CMainFrame::AcceleratorTable())
    table << QKeySequence(accelerator.key).toString(QKeySequence::PortableText) + "=" +
                 QString::number(accelerator.id);
  EXPECT_EQ(table, (QStringList{"Ctrl+C=57634", "Ctrl+N=57600", "Ctrl+O=57601", "Ctrl+S=57604",
                                "Ctrl+V=57637", "Num++=32771", "Alt+Backspace=57643", "Shift+Del=57635",
                                "F6=57680", "Shift+F6=57681", "Ctrl+Ins=57634", "Shift+Ins=57637",
                                "Num+-=32772", "Ctrl+X=57635", "Ctrl+Z=57643"}));
}

TEST_F(MeshwickAppTest, OnlyTheKeypadsPlusAndMinusZoom) {
  struct Case {
    const char* what;
    int key;
    Qt::KeyboardModifiers modifiers;
    int command;
  } cases[] = {
      {"keypad plus", Qt::Key_Plus, Qt::KeypadModifier, ID_ZOOM_IN},
      {"keypad minus", Qt::Key_Minus, Qt::KeypadModifier, ID_ZOOM_OUT},
      {"main plus", Qt::Key_Plus, Qt::NoModifier, 0},
      {"shifted main plus", Qt::Key_Plus, Qt::ShiftModifier, 0},
      {"main minus", Qt::Key_Minus, Qt::NoModifier, 0},
      {"ctrl keypad plus", Qt::Key_Plus, Qt::KeypadModifier | Qt::ControlModifier, 0},
      {"ctrl s", Qt::Key_S, Qt::ControlModifier, ID_FILE_SAVE_AS},
      {"ctrl shift s", Qt::Key_S, Qt::ControlModifier | Qt::ShiftModifier, 0},
      {"keypad insert with ctrl", Qt::Key_Insert, Qt::KeypadModifier | Qt::ControlModifier, ID_EDIT_COPY},
      {"f6", Qt::Key_F6, Qt::NoModifier, ID_NEXT_PANE}};
  for (const Case& c : cases) {
    const QKeyEvent event(QEvent::KeyPress, c.key, c.modifiers);
    EXPECT_EQ(CMainFrame::AcceleratorCommand(event), c.command) << c.what;
  }
}

void PressKey(QWidget* target, int key, Qt::KeyboardModifiers modifiers) {
  QKeyEvent event(QEvent::KeyPress, key, modifiers);
  QApplication::sendEvent(target, &event);
}

TEST_F(MeshwickAppTest, KeypadKeysAndToolbarZoomTheView) {
  auto app = Start();
  PlaceThroughView(*app);
  QWidget* view = app->View()->viewport();
  PressKey(view, Qt::Key_Plus, Qt::KeypadModifier);
  EXPECT_EQ(app->View()->Zoom(), 1);
  PressKey(view, Qt::Key_Plus, Qt::NoModifier);
  EXPECT_EQ(app->View()->Zoom(), 1);
  PressKey(view, Qt::Key_Minus, Qt::KeypadModifier);
  PressKey(view, Qt::Key_Minus, Qt::KeypadModifier);
  EXPECT_EQ(app->View()->Zoom(), -1);
  app->MainFrame()->ToolBarAction(ID_ZOOM_IN)->trigger();
  EXPECT_EQ(app->View()->Zoom(), 0);
  app->MainFrame()->ToolBarAction(ID_ZOOM_OUT)->trigger();
  EXPECT_EQ(app->View()->Zoom(), -1);
}

TEST_F(MeshwickAppTest, SaveAsIsEnabledOnceTheGridHasACell) {
  auto app = Start();
  QAction* saveAs = app->MainFrame()->MenuAction(ID_FILE_SAVE_AS);
  EXPECT_FALSE(saveAs->isEnabled());
  EXPECT_EQ(app->MainFrame()->ToolBarAction(ID_FILE_SAVE_AS), saveAs);
  PressKey(app->View()->viewport(), Qt::Key_S, Qt::ControlModifier);  // does nothing while disabled
  EXPECT_TRUE(m_dialogs.saveFilters.isEmpty());

  PlaceThroughView(*app);
  EXPECT_TRUE(saveAs->isEnabled());
  m_dialogs.saveAnswers.push_back(QString());
  PressKey(app->View()->viewport(), Qt::Key_S, Qt::ControlModifier);
  EXPECT_FALSE(m_dialogs.saveFilters.isEmpty());

  m_dialogs.saveChoices.push_back(SaveChoice::Discard);
  app->MainFrame()->MenuAction(ID_FILE_NEW)->trigger();
  EXPECT_FALSE(saveAs->isEnabled());
}

TEST_F(MeshwickAppTest, EditCommandsAreAlwaysDisabledAndZoomAlwaysEnabled) {
  auto app = Start();
  for (int round = 0; round < 2; ++round) {
    for (const int id : {ID_EDIT_UNDO, ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE}) {
      EXPECT_FALSE(app->MainFrame()->MenuAction(id)->isEnabled()) << id;
      EXPECT_FALSE(app->Router().Query(id).enabled) << id;
    }
    for (const int id : {ID_EDIT_CUT, ID_EDIT_COPY, ID_EDIT_PASTE})
      EXPECT_FALSE(app->MainFrame()->ToolBarAction(id)->isEnabled()) << id;
    for (const int id : {ID_ZOOM_IN, ID_ZOOM_OUT})
      EXPECT_TRUE(app->MainFrame()->ToolBarAction(id)->isEnabled());
    for (const int id : {ID_NEXT_PANE, ID_PREV_PANE}) EXPECT_FALSE(app->Router().Query(id).enabled);
    for (const int id :
         {ID_FILE_NEW, ID_FILE_OPEN, ID_APP_ABOUT, ID_APP_EXIT, ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR})
      EXPECT_TRUE(app->MainFrame()->MenuAction(id)->isEnabled()) << id;
    PlaceThroughView(*app);
  }
  EXPECT_FALSE(app->Router().Execute(ID_EDIT_COPY));
  EXPECT_FALSE(app->Router().Execute(ID_NEXT_PANE));
}

TEST_F(MeshwickAppTest, ViewMenuTogglesTheBarsWithCheckMarks) {
  auto app = Start();
  QAction* toolbarItem = app->MainFrame()->MenuAction(ID_VIEW_TOOLBAR);
  QAction* statusItem = app->MainFrame()->MenuAction(ID_VIEW_STATUS_BAR);
  EXPECT_TRUE(toolbarItem->isChecked());
  EXPECT_TRUE(statusItem->isChecked());
  toolbarItem->trigger();
  EXPECT_TRUE(app->MainFrame()->ToolBar()->isHidden());
  EXPECT_FALSE(toolbarItem->isChecked());
  statusItem->trigger();
  EXPECT_TRUE(app->MainFrame()->StatusBar()->isHidden());
  EXPECT_FALSE(statusItem->isChecked());
  toolbarItem->trigger();
  EXPECT_FALSE(app->MainFrame()->ToolBar()->isHidden());
  EXPECT_TRUE(toolbarItem->isChecked());
}

TEST_F(MeshwickAppTest, AboutDialogShowsNameVersionAndOk) {
  auto app = Start();
  QStringList seen;
  m_dialogs.onModal = [&seen](QDialog& dialog) {
    seen << dialog.windowTitle();
    for (const QLabel* label : dialog.findChildren<QLabel*>()) seen << label->text();
    for (const QPushButton* button : dialog.findChildren<QPushButton*>()) seen << button->text();
    return int(QDialog::Accepted);
  };
  app->MainFrame()->MenuAction(ID_APP_ABOUT)->trigger();
  ASSERT_FALSE(seen.isEmpty());
  EXPECT_EQ(seen.front(), "关于Meshwick");
  EXPECT_TRUE(seen.contains("Meshwick Version 1.0"));
  EXPECT_TRUE(seen.contains("OK"));
}

TEST_F(MeshwickAppTest, FileOpenChangesOnlyTheTitle) {
  auto app = Start();
  PlaceThroughView(*app);
  const CPictureDib* cell = app->Document()->Cell(0, 0);
  ASSERT_NE(cell, nullptr);
  m_dialogs.openAnswers.push_back(Bitmap("other.bmp"));
  m_dialogs.saveChoices = {SaveChoice::Discard, SaveChoice::Discard};
  app->MainFrame()->MenuAction(ID_FILE_OPEN)->trigger();
  EXPECT_EQ(app->MainFrame()->windowTitle(), "other.bmp* - Meshwick");
  EXPECT_EQ(app->Document()->Cell(0, 0), cell);
  EXPECT_EQ(app->Document()->Columns(), 1);
  EXPECT_EQ(app->View()->TotalWidth(), 120);  // the grid still scrolls as before

  app->MainFrame()->MenuAction(ID_FILE_NEW)->trigger();
  EXPECT_EQ(app->MainFrame()->windowTitle(), "无标题 - Meshwick");
  EXPECT_EQ(app->Document()->Columns(), 0);
}

TEST_F(MeshwickAppTest, FileArgumentIsOpenedAndAMissingOneEndsStartUp) {
  auto app = Start({Bitmap("given.bmp")});
  EXPECT_EQ(app->MainFrame()->windowTitle(), "given.bmp - Meshwick");
  EXPECT_EQ(app->Document()->Columns(), 0);

  CMeshwickApp failing(m_dialogs, m_profile);
  EXPECT_FALSE(failing.InitInstance({m_dir.filePath("absent.bmp")}));
  EXPECT_EQ(m_dialogs.messages.size(), 1);
}

TEST_F(MeshwickAppTest, PlacingMarksTheTitleAndSavingClearsTheMarkAndNamesTheFile) {
  auto app = Start();
  EXPECT_FALSE(app->Document()->IsModified());
  PlaceThroughView(*app);
  EXPECT_TRUE(app->Document()->IsModified());
  EXPECT_EQ(app->MainFrame()->windowTitle(), "无标题* - Meshwick");
  m_dialogs.saveAnswers.push_back(m_dir.filePath("grid.bmp"));
  app->MainFrame()->MenuAction(ID_FILE_SAVE_AS)->trigger();
  EXPECT_TRUE(QFile::exists(m_dir.filePath("grid.bmp")));
  EXPECT_FALSE(app->Document()->IsModified());
  EXPECT_EQ(app->MainFrame()->windowTitle(), "grid.bmp - Meshwick");
  PlaceThroughView(*app, {500, 5});  // a second picture: changed again
  EXPECT_EQ(app->MainFrame()->windowTitle(), "grid.bmp* - Meshwick");

  // A save that fails keeps the mark.
  m_dialogs.saveAnswers.push_back(m_dir.filePath("missing/grid.bmp"));
  app->MainFrame()->MenuAction(ID_FILE_SAVE_AS)->trigger();
  EXPECT_TRUE(app->Document()->IsModified());
  EXPECT_TRUE(m_dialogs.questions.isEmpty());
}

// Each way of giving up the grid asks first while it has unsaved changes; 取消 (or a save
// that does not happen) keeps everything, 不保存 goes on, 保存 saves and goes on.
TEST_F(MeshwickAppTest, UnsavedChangesAreAskedAboutBeforeNewOpenExitAndClose) {
  enum class Way { New, Open, Exit, CloseWindow };
  enum class Outcome { Kept, WentOn };
  const struct {
    Way way;
    SaveChoice choice;
    bool saveDialogConfirms;
    Outcome outcome;
  } cases[] = {
      {Way::New, SaveChoice::Cancel, false, Outcome::Kept},
      {Way::New, SaveChoice::Discard, false, Outcome::WentOn},
      {Way::New, SaveChoice::Save, true, Outcome::WentOn},
      {Way::New, SaveChoice::Save, false, Outcome::Kept},
      {Way::Open, SaveChoice::Cancel, false, Outcome::Kept},
      {Way::Open, SaveChoice::Discard, false, Outcome::WentOn},
      {Way::Open, SaveChoice::Save, true, Outcome::WentOn},
      {Way::Exit, SaveChoice::Cancel, false, Outcome::Kept},
      {Way::Exit, SaveChoice::Discard, false, Outcome::WentOn},
      {Way::Exit, SaveChoice::Save, true, Outcome::WentOn},
      {Way::Exit, SaveChoice::Save, false, Outcome::Kept},
      {Way::CloseWindow, SaveChoice::Cancel, false, Outcome::Kept},
      {Way::CloseWindow, SaveChoice::Discard, false, Outcome::WentOn},
      {Way::CloseWindow, SaveChoice::Save, true, Outcome::WentOn},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(round);
    m_dialogs.questions.clear();
    m_dialogs.saveChoices.clear();
    m_dialogs.saveAnswers.clear();
    m_dialogs.openAnswers.clear();
    auto app = Start();
    PlaceThroughView(*app);
    const QString saved = m_dir.filePath(QString("saved%1.bmp").arg(round++));
    m_dialogs.saveChoices.push_back(c.choice);
    m_dialogs.saveAnswers.push_back(c.saveDialogConfirms ? saved : QString());
    m_dialogs.openAnswers.push_back(QString());  // the open dialog, when it comes, is cancelled
    switch (c.way) {
      case Way::New:
        app->MainFrame()->MenuAction(ID_FILE_NEW)->trigger();
        break;
      case Way::Open:
        app->MainFrame()->MenuAction(ID_FILE_OPEN)->trigger();
        break;
      case Way::Exit:
        app->MainFrame()->MenuAction(ID_APP_EXIT)->trigger();
        break;
      case Way::CloseWindow:
        app->MainFrame()->close();
        break;
    }
    EXPECT_EQ(m_dialogs.questions, QStringList{"是否保存对“无标题”的更改？"});
    EXPECT_EQ(QFile::exists(saved), c.choice == SaveChoice::Save && c.saveDialogConfirms);
    const bool kept = c.outcome == Outcome::Kept;
    // What shows that the command stopped: the grid, the unused open answer, the window.
    const bool stopped = c.way == Way::New    ? app->Document()->Columns() == 1
                         : c.way == Way::Open ? !m_dialogs.openAnswers.empty()
                                              : app->MainFrame()->isVisible();
    EXPECT_EQ(stopped, kept);
  }
}

TEST_F(MeshwickAppTest, NothingIsAskedWithoutUnsavedChanges) {
  auto app = Start();
  app->MainFrame()->MenuAction(ID_FILE_NEW)->trigger();
  PlaceThroughView(*app);
  m_dialogs.saveAnswers.push_back(m_dir.filePath("grid.bmp"));
  app->MainFrame()->MenuAction(ID_FILE_SAVE_AS)->trigger();
  app->MainFrame()->MenuAction(ID_APP_EXIT)->trigger();
  EXPECT_FALSE(app->MainFrame()->isVisible());
  EXPECT_TRUE(m_dialogs.questions.isEmpty());
}

TEST_F(MeshwickAppTest, FirstRunShowsTheWindowMaximised) {
  auto app = Start();
  EXPECT_TRUE(app->MainFrame()->isMaximized());
}

TEST_F(MeshwickAppTest, ShowStateRoundTripsThroughTheProfile) {
  struct Case {
    const char* what;
    std::function<void(CMainFrame&)> set;
    int stored;
    std::function<bool(const CMainFrame&)> shownAgain;
  } cases[] = {
      {"minimised", [](CMainFrame& f) { f.showMinimized(); }, 2,
       [](const CMainFrame& f) { return f.isMinimized(); }},
      {"normal", [](CMainFrame& f) { f.showNormal(); }, 1,
       [](const CMainFrame& f) { return !f.isMinimized() && !f.isMaximized(); }},
      {"maximised", [](CMainFrame& f) { f.showMaximized(); }, 3,
       [](const CMainFrame& f) { return f.isMaximized(); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    {
      auto app = Start();
      c.set(*app->MainFrame());
      app->MainFrame()->MenuAction(ID_APP_EXIT)->trigger();
      EXPECT_FALSE(app->MainFrame()->isVisible());
    }
    EXPECT_EQ(ProfileStore(m_dir.filePath("profile.ini")).GetProfileInt("parameters", "CmdShow", 0),
              c.stored);
    auto again = Start();
    EXPECT_TRUE(c.shownAgain(*again->MainFrame()));
    again->MainFrame()->hide();
  }
}

TEST_F(MeshwickAppTest, OutOfRangeShowStateFallsBackToMaximised) {
  m_profile.WriteProfileInt("parameters", "CmdShow", 0);  // would hide the window
  auto app = Start();
  EXPECT_TRUE(app->MainFrame()->isVisible());
  EXPECT_TRUE(app->MainFrame()->isMaximized());
}

TEST_F(MeshwickAppTest, LoadsQtsChineseTextsWhenInstalled) {
  CMeshwickApp app(m_dialogs, m_profile);
  const bool installed =
      QFile::exists(QLibraryInfo::path(QLibraryInfo::TranslationsPath) + "/qtbase_zh_CN.qm");
  EXPECT_EQ(app.LoadQtTranslation(), installed);
  if (installed) {
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "取消");
  }
}

}  // namespace
