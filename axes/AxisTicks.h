#pragma once

#include <string>

// The number theory of tick layouts: nice numbers, the next tick of a logarithmic scale, and
// notes of the equal-tempered scale (A4 = 440 Hz, note number 69).
namespace kavrel::axisticks {

// 1, 2, 5 or 10 times a power of ten nearest to x (x > 0); 0 for x = 0; NaN for x < 0 or x not
// finite.
double NiceNumber(double x);

// The next coarser nice step after a nice step: 1 -> 2 -> 5 -> 10 times the same power of ten.
// NaN for a step that is not positive and finite.
double NextNiceStep(double step);

// Next tick after x on an ordinary logarithmic scale: 1, 2, ..., 9, 10, 20, ... (x > 0).
// Gives 0 when the arithmetic fails.
double NextLogTick(double x);

// Note number of a frequency in hertz: 12 log2(f / 440) + 69.
double NoteNumber(double frequency);

// True for the sharps C#, Eb, F#, Ab, Bb.
bool IsSharpNote(long long note);

// Next natural note (C D E F G A B) above the frequency, in hertz. Gives 0 on failure.
double NextMusicTick(double frequency);

// "A4" for 440, "C4" for 261.6; "-" for a value <= 0 or one whose note cannot be computed.
std::string NoteName(double frequency);

// Pitch class 0..11 of the nearest note (0 is C, 9 is A); -1 when it cannot be computed.
int PitchClass(double frequency);

} // namespace kavrel::axisticks
