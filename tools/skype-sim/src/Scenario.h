// The scenario the stand-in plays: one step a line, read whole before anything runs so
// a mistake in the file is reported with its line number instead of half a run.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

enum class Side { Mic = 0, Spk = 1 };

enum class Op {
  Attach,           // how later Discovers are answered: status (or none) and delay
  AttachNow,        // send Attach with a status to the known client at once
  Announce,         // broadcast Attach 0x8001 (API available) to every top-level window
  WaitDiscover,     // timeout
  Answer,           // pattern, replies
  Unanswer,         // pattern
  Pong,             // on / off / reply text
  RefuseCommands,   // the next n commands are not taken (result 0)
  Hang,             // the next command is held n ms before it is taken
  Sleep,            // ms
  Send,             // text
  SendForeign,      // text, from a second window the client must not listen to
  SendHex,          // text = exactly these bytes, no zero added; none = no data at all
  SendRepeat,       // a = length: text repeated to that many bytes, then a zero byte
  WaitCommand,      // pattern, timeout
  ExpectCommand,    // pattern: matched since the last mark
  ExpectNoCommand,  // pattern: not matched since the last mark
  ExpectCount,      // pattern, min, max: since the last mark
  ExpectQuiet,      // pattern, ms: nothing matches during the next ms
  Mark,
  AudioTone,        // side, frequency, amplitude
  AudioWav,         // side, path
  AudioSilence,     // side
  AudioDelay,       // side, ms before the first connection
  AudioEnable,      // side, on (1) or never (0)
  AudioDrop,        // side, ms of audio after which the first connection is closed; b = reset
  AudioSegment,     // write sizes, empty = whole frames as they fall due
  AudioJitter,      // ms
  WaitConnected,    // side, timeout
  Exit,
};

struct Step {
  Op op = Op::Exit;
  int line = 0;
  std::string text;                  // pattern, text to send, path, pong reply
  std::vector<std::string> replies;  // Answer
  std::vector<size_t> sizes;         // AudioSegment
  long long a = 0, b = 0;            // numbers; for Attach a = status (-1 none), b = delay
  double x = 0, y = 0;               // AudioTone
  Side side = Side::Mic;
};

struct Scenario {
  std::vector<Step> steps;
};

// Parses the whole scenario. On failure returns nothing and puts "line N: why" in error.
std::optional<Scenario> ParseScenario(std::string_view text, std::string& error);

// Replaces {1} .. {9} in a reply with what the answer pattern's stars matched.
std::string FillCaptures(std::string_view reply, const std::vector<std::string>& captures);

// A CALL notification that ends the call: the stand-in stops that call's audio first.
// Returns the call id, or nothing when the text does not end a call.
std::optional<std::string> EndedCallId(std::string_view notification);

// The two audio redirection commands. Returns the call id, side and port when the text
// is one of them (compared without regard to case).
struct Redirection {
  std::string callId;
  Side side = Side::Mic;
  int port = 0;
};
std::optional<Redirection> ParseRedirection(std::string_view command);

}  // namespace sim
