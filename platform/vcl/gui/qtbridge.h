// Between the framework classes and Qt. Internal to platform/vcl/gui.
#pragma once
#include <QColor>
#include <QEvent>
#include <QObject>
#include <QString>
#include <functional>

#include "platform/vcl/gui/controls.h"

namespace vcl::detail {

// Texts are ANSI bytes; Latin-1 maps each byte to one character and back.
inline QString ToQt(const AnsiString& s) { return QString::fromLatin1(s.data(), s.Length()); }
inline AnsiString FromQt(const QString& s) {
  QByteArray b = s.toLatin1();
  return AnsiString(b.constData(), static_cast<int>(b.size()));
}
// Caption without its accelerator marks: "&&" is a literal '&'.
QString StripAccel(const AnsiString& s);
// Qt lays out a text whole to draw or measure it, which takes seconds for megabytes: longer
// texts are shown from their start, with an ellipsis.
inline constexpr int kShownChars = 4096;
QColor ToQColor(TColor c);

// Watches a widget's events without subclassing it (no moc needed).
class EventHook : public QObject {
 public:
  using Fn = std::function<bool(QEvent*)>;
  EventHook(QObject* target, Fn fn) : QObject(target), fn_(std::move(fn)) { target->installEventFilter(this); }

 protected:
  bool eventFilter(QObject*, QEvent* e) override { return fn_(e); }

 private:
  Fn fn_;
};

}  // namespace vcl::detail
