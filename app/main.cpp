#include "app/meshwick_app.h"
#include "platform/dialogs.h"
#include "platform/profile.h"

#include <QApplication>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName("Meshwick");
  QApplication::setOrganizationName("Meshwick");

  platform::ProfileStore profile;
  platform::QtDialogService dialogs(&profile);
  CMeshwickApp app(dialogs, profile);
  app.LoadQtTranslation();
  QStringList arguments = QApplication::arguments();
  arguments.removeFirst();
  if (!app.InitInstance(arguments)) return 1;
  return QApplication::exec();
}
