#include "app/string_table.h"

#include "platform/command.h"

#include <map>

namespace strings {

namespace {

using namespace platform;

const std::map<int, const char*>& Table() {
  static const std::map<int, const char*> table{
      {ID_FILE_NEW, "创建一个新文档\nNew"},
      {ID_FILE_OPEN, "打开一个现有文件\nOpen"},
      {ID_FILE_SAVE_AS, "重命名来保存活动文档\nSave As"},
      {ID_APP_EXIT, "退出这个应用程序; 提示保存文档\nExit"},
      {ID_APP_ABOUT, "显示程序信息, 版本号和版权信息\nAbout"},
      {ID_EDIT_UNDO, "撤销最后一步操作\nUndo"},
      {ID_EDIT_CUT, "剪切选择到剪切板\nCut"},
      {ID_EDIT_COPY, "复制选择并复制到剪切板\nCopy"},
      {ID_EDIT_PASTE, "插入剪贴板内容\nPaste"},
      {ID_VIEW_TOOLBAR, "显示或隐藏工具条\nToggle ToolBar"},
      {ID_VIEW_STATUS_BAR, "显示或隐藏状态栏\nToggle StatusBar"},
      {ID_ZOOM_IN, "放大\n放大"},
      {ID_ZOOM_OUT, "缩小\n缩小"},
      {ID_NEXT_PANE, "分割到下一个窗口边缘\nNext Pane"},
      {ID_PREV_PANE, "分割到原先窗口边缘\nPrevious Pane"},
  };
  return table;
}

}  // namespace

QString CommandString(int id) {
  const auto found = Table().find(id);
  return found == Table().end() ? QString() : QString::fromUtf8(found->second);
}

QString StatusPrompt(int id) {
  return CommandString(id).section('\n', 0, 0);
}

QString ToolTip(int id) {
  return CommandString(id).section('\n', 1, 1);
}

}  // namespace strings
