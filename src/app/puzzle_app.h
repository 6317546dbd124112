#pragma once

// Start-up of the Qt front end: the command line and the application object.

#include <QApplication>
#include <string>

namespace quaderix {

// The puzzle file named on the command line: the first argument (after argv[0]) that does
// not begin with '-', exactly as typed; "" when there is none. A leading '/' is a path.
std::string ParseCommandLine(int argc, const char* const* argv);

// The application object: reads the command line, runs the main window modally and ends
// the process once the window has closed. One per process, owned by main() and used on
// the process's main thread, which becomes the GUI thread.
class PuzzleApp {
 public:
  // Qt removes the options it knows (-platform, -style, ...) from argc and argv before
  // the puzzle file is looked for, so their values are never taken for it.
  PuzzleApp(int& argc, char** argv);

  // Shows the window and returns the process's exit code when it has closed.
  int Run();

  const std::string& commandLineConfig() const { return commandLineConfig_; }

 private:
  QApplication application_;
  std::string commandLineConfig_;
};

}  // namespace quaderix
