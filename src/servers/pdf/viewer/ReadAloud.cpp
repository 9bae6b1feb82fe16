#include "servers/pdf/viewer/ReadAloud.h"

#include "system/Speech.h"

namespace pm::pdf {

std::string readingText(Doc& d, int first, int last) {
  std::string text;
  for (int p = first; p <= last; ++p) {
    for (const Word& w : d.words(p)) text += w.text + (w.lineEnd ? "\n" : (w.after.empty() ? " " : w.after));
    text += "\n";
  }
  return text;
}

void readAloud(Doc& d, int first, int last) {
  // Checked before the text is gathered, so a machine without speech says
  // so at once.
  if (!SpeechAvailable()) Speak("");
  Speak(readingText(d, first, last));
}

}  // namespace pm::pdf
