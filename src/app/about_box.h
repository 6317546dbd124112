#pragma once

// The About box of the Qt front end.

#include <QDialog>

class QLabel;
class QPushButton;

namespace quaderix {

inline constexpr const char* kAboutTitle = "Info über QuaderixPuzzle";
inline constexpr const char* kAboutText = "QuaderixPuzzle Version 1.0";

// The "Info über QuaderixPuzzle" box: the icon, the program's name and version, and OK.
// Created and opened modally by the main window (context menu or F1); GUI thread only.
class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  // Places the controls from their dialog-unit positions; again when the font changes.
  void LayOut();

  QLabel* iconLabel_ = nullptr;
  QLabel* textLabel_ = nullptr;
  QPushButton* okButton_ = nullptr;
};

}  // namespace quaderix
