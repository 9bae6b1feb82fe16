// Reading text aloud through espeak-ng, run as a child process. The speech
// goes to the audio system; where PRESSMARK_SPEECH_WAV names a file, it is
// written there as a WAV file instead (machines without sound, tests).
#pragma once

#include <string>

#include "automation/Internal.h"

namespace pm {

inline constexpr const char* kSpeechProgram = "espeak-ng";

// True when espeak-ng is found in PATH.
PM_INTERNAL bool SpeechAvailable();

// Speaks the text and returns once it has been spoken. Raises a clear
// automation error when espeak-ng is not installed (429, cannot create
// object), when it cannot reach the audio system or fails (its own message),
// and when it runs past its time-out.
PM_INTERNAL void Speak(const std::string& text);

}  // namespace pm
