#include "app/Dialogs.h"

#include <QMessageBox>

#include <exception>

namespace dialogs {
namespace {

MessageSink& Sink() {
  static MessageSink sink;
  return sink;
}

void Show(MessageKind kind, const QString& text) {
  if (Sink()) {
    Sink()(kind, text);
    return;
  }
  const auto icon = kind == MessageKind::Error ? QMessageBox::Critical : QMessageBox::Information;
  QMessageBox box(icon, QStringLiteral("Kadenza"), text, QMessageBox::Ok);
  box.exec();
}

QuestionSink& Asker() {
  static QuestionSink sink;
  return sink;
}

}  // namespace

void SetQuestionSink(QuestionSink sink) {
  Asker() = std::move(sink);
}

bool Ask(const QString& question) {
  if (Asker())
    return Asker()(question);
  QMessageBox box(QMessageBox::Question, QStringLiteral("Kadenza"), question,
                  QMessageBox::Yes | QMessageBox::No);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void SetMessageSink(MessageSink sink) {
  Sink() = std::move(sink);
}

void ShowMessage(const QString& text) {
  Show(MessageKind::Information, text);
}

void ShowError(const QString& text) {
  Show(MessageKind::Error, text);
}

void Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowError(QString::fromUtf8(e.what()));
  } catch (...) {
    ShowError(QStringLiteral("Neznámá chyba."));
  }
}

}  // namespace dialogs
