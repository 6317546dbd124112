// quaderix-cli: solves a puzzle headless with the same jobs, log lines, counts and files
// as the window. The main thread plays the window's part: it drains the workers'
// messages, runs the one-second status tick and prints what the log receives.

#include <CLI/CLI.hpp>
#include <iostream>
#include <string>

#include "cli/cli_output.h"
#include "cli/puzzle_check.h"
#include "cli/puzzle_run.h"
#include "cli/show_command.h"

int main(int argc, char** argv) {
  using namespace quaderix;
  CLI::App app{
      "Quaderix Puzzle: finds and counts every packing of a 3-D polycube puzzle.\n"
      "Without PUZZLE the ConfigFileName of MainConfig.ini (next to this program) is\n"
      "solved, or the built-in puzzle.",
      "quaderix-cli"};
  RunOptions options;
  std::string checkPath;
  const RunOptionSwitches run = AddRunOptions(app, options);
  auto* check = app.add_option("--check", checkPath,
                               "describe the puzzle file, or name the key that is wrong");
  check->excludes(run.puzzle)
      ->excludes(run.threads)
      ->excludes(run.outputBase)
      ->excludes(run.resume)
      ->excludes(run.fresh)
      ->excludes(run.every);
  ShowOptions showOptions;
  CLI::App* show = AddShowCommand(app, showOptions);
  app.set_version_flag("--version", std::string("quaderix-cli ") + QUADERIX_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? kExitOk : kExitUsage;
  }
  if (show->parsed()) return RunShow(showOptions, ShowInColour(), std::cout, std::cerr);
  if (!check->empty()) return CheckPuzzle(checkPath, std::cout, std::cerr);
  NoteGivenOptions(run, options);
  return RunPuzzle(options);
}
