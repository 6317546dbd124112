#pragma once

// The road of worker messages into the Qt event queue of the window's thread.

#include <QEvent>
#include <QObject>

#include "threads/message_sink.h"

namespace quaderix {

// One worker message travelling through the Qt event queue: made on a worker's thread,
// owned by the queue, then handled and freed on the receiver's thread. The text moves into
// the event, so the receiver owns it once the event arrives.
class PuzzleMessageEvent : public QEvent {
 public:
  explicit PuzzleMessageEvent(PuzzleMessage message);

  // The event type registered for worker messages, the same for the life of the process.
  static QEvent::Type EventType();

  const PuzzleMessage& message() const { return message_; }

 private:
  PuzzleMessage message_;
};

// The window's end of the worker messages: Post wraps each message in a Qt event queued
// for the receiver, which handles it later on its own (the GUI) thread, in the order each
// worker posted. Post may be called from any thread; the sink is owned by the window and
// must outlive every worker that posts to it.
class QtMessageSink : public MessageSink {
 public:
  explicit QtMessageSink(QObject* receiver) : receiver_(receiver) {}

  void Post(PuzzleMessage message) override;

 private:
  QObject* receiver_;
};

}  // namespace quaderix
