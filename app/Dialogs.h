// The application's message boxes and the guard that every event handler runs in: an
// exception that leaves a handler is shown in a message box titled "Kadenza" and the
// program goes on, so no exception ever crosses the Qt event loop. Tests replace the sink
// to see the messages instead of blocking in a modal box.
#pragma once

#include <QString>

#include <functional>

namespace dialogs {

enum class MessageKind { Information, Error };

using MessageSink = std::function<void(MessageKind, const QString&)>;

// SetMessageSink replaces how messages are shown; an empty sink restores the message boxes.
void SetMessageSink(MessageSink sink);

// ShowMessage shows an information message (title "Kadenza").
void ShowMessage(const QString& text);
// ShowError shows an error message (title "Kadenza").
void ShowError(const QString& text);

// Ask asks a yes-or-no question (title "Kadenza", "Ne" the default, so that Enter never
// confirms by accident) and answers true for yes. SetQuestionSink replaces how it asks;
// an empty sink restores the message box.
using QuestionSink = std::function<bool(const QString&)>;
void SetQuestionSink(QuestionSink sink);
bool Ask(const QString& question);

// Guarded runs handler; any exception it raises is shown with ShowError.
void Guarded(const std::function<void()>& handler);

// Guard wraps a handler without arguments for use with QObject::connect (Qt drops the
// signal's arguments a slot does not take).
template <class F>
auto Guard(F handler) {
  return [handler] { Guarded(handler); };
}

}  // namespace dialogs
