#include "app/puzzle_app.h"

#include <cstdio>
#include <cstdlib>

#include "app/app_icon.h"
#include "app/main_window.h"

namespace quaderix {

std::string ParseCommandLine(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] != nullptr && argv[i][0] != '-') return argv[i];
  }
  return std::string();
}

PuzzleApp::PuzzleApp(int& argc, char** argv)
    : application_(argc, argv), commandLineConfig_(ParseCommandLine(argc, argv)) {
  QApplication::setApplicationName(QStringLiteral("quaderix"));
  QApplication::setApplicationVersion(QStringLiteral("1.0"));
  // Lets the desktop match the window to quaderix.desktop and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("quaderix"));
  QApplication::setWindowIcon(AppIcon());
}

int PuzzleApp::Run() {
  MainWindow window(commandLineConfig_);
  window.exec();
  if (window.JobsRemain()) {
    // The user chose to quit although a job did not stop. Its worker may never end, and
    // destroying the job would wait for it, so the process ends here and takes the
    // workers with it.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  return 0;
}

}  // namespace quaderix
