#include "app/qt_message_sink.h"

#include <QCoreApplication>
#include <utility>

namespace quaderix {

PuzzleMessageEvent::PuzzleMessageEvent(PuzzleMessage message)
    : QEvent(EventType()), message_(std::move(message)) {}

QEvent::Type PuzzleMessageEvent::EventType() {
  static const QEvent::Type type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

void QtMessageSink::Post(PuzzleMessage message) {
  // postEvent takes ownership of the event and is safe from any thread; events for one
  // receiver are delivered in the order they were posted.
  QCoreApplication::postEvent(receiver_, new PuzzleMessageEvent(std::move(message)));
}

}  // namespace quaderix
