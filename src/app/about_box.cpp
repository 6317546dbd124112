#include "app/about_box.h"

#include <QEvent>
#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/dialog_units.h"

namespace quaderix {

namespace {

constexpr int kWidth = 235;
constexpr int kHeight = 55;
constexpr DialogUnitRect kIconRect{11, 17, 20, 20};
constexpr DialogUnitRect kTextRect{40, 10, 119, 8};
constexpr DialogUnitRect kOkRect{178, 7, 50, 14};

}  // namespace

AboutBox::AboutBox(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromUtf8(kAboutTitle));
  setFont(DialogFont(font()));
  setWindowIcon(AppIcon());

  iconLabel_ = new QLabel(this);
  iconLabel_->setObjectName("aboutIcon");
  iconLabel_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  // Plain text and no buddy: an '&' in the text would be shown as it is.
  textLabel_ = new QLabel(QString::fromUtf8(kAboutText), this);
  textLabel_->setObjectName("aboutText");
  textLabel_->setTextFormat(Qt::PlainText);

  okButton_ = new QPushButton(QStringLiteral("OK"), this);
  okButton_->setObjectName("okButton");
  okButton_->setDefault(true);
  connect(okButton_, &QPushButton::clicked, this, &QDialog::accept);

  LayOut();
}

void AboutBox::changeEvent(QEvent* event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::FontChange && okButton_ != nullptr) LayOut();
}

void AboutBox::LayOut() {
  const QFontMetrics metrics = fontMetrics();
  setFixedSize(DialogUnitsToPixels(kWidth, kHeight, metrics));
  const QRect iconRect = DialogUnitsToPixels(kIconRect, metrics);
  iconLabel_->setGeometry(iconRect);
  iconLabel_->setPixmap(AppIcon().pixmap(iconRect.size()));
  textLabel_->setGeometry(DialogUnitsToPixels(kTextRect, metrics));
  okButton_->setGeometry(DialogUnitsToPixels(kOkRect, metrics));
}

}  // namespace quaderix
