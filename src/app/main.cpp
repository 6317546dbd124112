#include "app/puzzle_app.h"

int main(int argc, char** argv) {
  quaderix::PuzzleApp app(argc, argv);
  return app.Run();
}
