#include "Scenario.h"

#include <map>

#include "Pcm.h"
#include "SimText.h"

namespace sim {

namespace {

// Load-time variables: {name} in any later line is replaced with the value last set.
bool ExpandVariables(std::string_view line, const std::map<std::string, std::string>& vars,
                     std::string& out, std::string& error) {
  out.clear();
  size_t i = 0;
  while (i < line.size()) {
    if (line[i] == '{') {
      const size_t close = line.find('}', i);
      if (close != std::string_view::npos) {
        const std::string name(line.substr(i + 1, close - i - 1));
        if (name.size() == 1 && name[0] >= '1' && name[0] <= '9') {
          out.append(line.substr(i, close - i + 1));  // a capture, filled in per command
          i = close + 1;
          continue;
        }
        auto it = vars.find(LowerAscii(name));
        if (it == vars.end()) {
          error = "unknown placeholder {" + name + "}";
          return false;
        }
        out += it->second;
        i = close + 1;
        continue;
      }
    }
    out += line[i++];
  }
  return true;
}

std::optional<Side> ParseSide(std::string_view w) {
  if (EqualsNoCase(w, "mic")) return Side::Mic;
  if (EqualsNoCase(w, "spk")) return Side::Spk;
  return std::nullopt;
}

std::optional<long long> NonNegative(std::string_view w) {
  auto v = ParseInteger(w);
  if (!v || *v < 0) return std::nullopt;
  return v;
}

// A pattern given as the words before the trailing numbers: one quoted word keeps its
// spaces exactly, several bare words are joined by single spaces.
std::string JoinPattern(const std::vector<std::string>& w, size_t from, size_t to) {
  std::string p;
  for (size_t i = from; i < to; ++i) {
    if (i > from) p += ' ';
    p += w[i];
  }
  return p;
}

bool ParseLine(const std::string& line, Step& s, std::string& error) {
  const std::string_view trimmed = Trim(line);
  const size_t sp = trimmed.find_first_of(" \t");
  const std::string keyword = LowerAscii(trimmed.substr(0, sp));
  const std::string_view rest = sp == std::string_view::npos ? std::string_view() : Trim(trimmed.substr(sp + 1));

  // Lines whose rest is free text are read before splitting into words.
  if (keyword == "send") {
    auto text = Unquote(rest);
    if (!text || text->empty()) { error = "send needs a text"; return false; }
    s.op = Op::Send;
    s.text = *text;
    return true;
  }
  if (keyword == "send-foreign") {
    auto text = Unquote(rest);
    if (!text || text->empty()) { error = "send-foreign needs a text"; return false; }
    s.op = Op::SendForeign;
    s.text = *text;
    return true;
  }
  if (keyword == "send-hex") {
    s.op = Op::SendHex;
    std::string digits;
    for (char c : rest)
      if (c != ' ' && c != '\t') digits += c;
    if (digits.size() % 2 != 0) { error = "send-hex needs pairs of hex digits"; return false; }
    for (size_t i = 0; i < digits.size(); i += 2) {
      auto v = ParseInteger("0x" + digits.substr(i, 2));
      if (!v) { error = "send-hex needs pairs of hex digits"; return false; }
      s.text += static_cast<char>(*v);
    }
    return true;
  }
  if (keyword == "send-repeat") {
    const size_t sp2 = rest.find_first_of(" \t");
    auto n = NonNegative(rest.substr(0, sp2));
    auto text = sp2 == std::string_view::npos ? std::nullopt : Unquote(rest.substr(sp2 + 1));
    if (!n || *n == 0 || *n > (64 << 20) || !text || text->empty()) {
      error = "send-repeat needs a length (1 byte to 64 MB) and a text";
      return false;
    }
    s.op = Op::SendRepeat;
    s.a = *n;
    s.text = *text;
    return true;
  }
  if (keyword == "answer") {
    const size_t eq = rest.find(" = ");
    const bool emptyReply = eq == std::string_view::npos && rest.size() >= 2 && rest.substr(rest.size() - 2) == " =";
    if (eq == std::string_view::npos && !emptyReply) { error = "answer needs PATTERN = REPLY"; return false; }
    auto pattern = Unquote(rest.substr(0, emptyReply ? rest.size() - 2 : eq));
    if (!pattern || pattern->empty()) { error = "answer needs a pattern"; return false; }
    s.op = Op::Answer;
    s.text = *pattern;
    if (!emptyReply) {
      std::string_view replies = rest.substr(eq + 3);
      while (true) {
        const size_t bar = replies.find(" || ");
        auto reply = Unquote(replies.substr(0, bar));
        if (!reply) { error = "bad quotes in a reply"; return false; }
        if (!reply->empty()) s.replies.push_back(*reply);
        if (bar == std::string_view::npos) break;
        replies = replies.substr(bar + 4);
      }
    }
    return true;
  }
  if (keyword == "pong") {
    auto text = Unquote(rest);
    if (!text || text->empty()) { error = "pong needs on, off or a reply text"; return false; }
    s.op = Op::Pong;
    s.text = *text;
    return true;
  }

  auto words = SplitWords(rest);
  if (!words) { error = "unbalanced quotes"; return false; }
  const auto& w = *words;
  const size_t n = w.size();

  if (keyword == "attach") {
    if (n < 1 || n > 2) { error = "attach needs STATUS|none [DELAY_MS]"; return false; }
    s.op = Op::Attach;
    if (EqualsNoCase(w[0], "none")) {
      s.a = -1;
    } else {
      auto st = NonNegative(w[0]);
      if (!st || *st > 0xFFFFFFFFLL) { error = "bad attach status"; return false; }
      s.a = *st;
    }
    if (n == 2) {
      auto d = NonNegative(w[1]);
      if (!d) { error = "bad attach delay"; return false; }
      s.b = *d;
    }
    return true;
  }
  if (keyword == "attach-now") {
    auto st = n == 1 ? NonNegative(w[0]) : std::nullopt;
    if (!st || *st > 0xFFFFFFFFLL) { error = "attach-now needs a STATUS"; return false; }
    s.op = Op::AttachNow;
    s.a = *st;
    return true;
  }
  if (keyword == "announce" || keyword == "mark" || keyword == "exit") {
    if (n != 0) { error = keyword + " takes no arguments"; return false; }
    s.op = keyword == "announce" ? Op::Announce : keyword == "mark" ? Op::Mark : Op::Exit;
    return true;
  }
  if (keyword == "unanswer" || keyword == "expect-command" || keyword == "expect-no-command") {
    if (n < 1) { error = keyword + " needs a pattern"; return false; }
    s.op = keyword == "unanswer" ? Op::Unanswer : keyword == "expect-command" ? Op::ExpectCommand : Op::ExpectNoCommand;
    s.text = JoinPattern(w, 0, n);
    return true;
  }
  if (keyword == "wait-command" || keyword == "expect-quiet") {
    auto ms = n >= 2 ? NonNegative(w[n - 1]) : std::nullopt;
    if (!ms) { error = keyword + " needs PATTERN MS"; return false; }
    s.op = keyword == "wait-command" ? Op::WaitCommand : Op::ExpectQuiet;
    s.text = JoinPattern(w, 0, n - 1);
    s.a = *ms;
    return true;
  }
  if (keyword == "expect-count") {
    auto lo = n >= 3 ? NonNegative(w[n - 2]) : std::nullopt;
    auto hi = n >= 3 ? NonNegative(w[n - 1]) : std::nullopt;
    if (!lo || !hi || *lo > *hi) { error = "expect-count needs PATTERN MIN MAX with MIN <= MAX"; return false; }
    s.op = Op::ExpectCount;
    s.text = JoinPattern(w, 0, n - 2);
    s.a = *lo;
    s.b = *hi;
    return true;
  }
  if (keyword == "sleep" || keyword == "wait-discover" || keyword == "refuse-commands" || keyword == "hang") {
    auto v = n == 1 ? NonNegative(w[0]) : std::nullopt;
    if (!v) { error = keyword + " needs one number"; return false; }
    s.op = keyword == "sleep" ? Op::Sleep : keyword == "wait-discover" ? Op::WaitDiscover
         : keyword == "refuse-commands" ? Op::RefuseCommands : Op::Hang;
    s.a = *v;
    return true;
  }
  if (keyword == "wait-connected") {
    auto side = n == 2 ? ParseSide(w[0]) : std::nullopt;
    auto ms = n == 2 ? NonNegative(w[1]) : std::nullopt;
    if (!side || !ms) { error = "wait-connected needs mic|spk MS"; return false; }
    s.op = Op::WaitConnected;
    s.side = *side;
    s.a = *ms;
    return true;
  }
  if (keyword == "audio") {
    if (n >= 1 && EqualsNoCase(w[0], "segment")) {
      s.op = Op::AudioSegment;
      if (n == 2 && EqualsNoCase(w[1], "frame")) return true;
      if (n != 2) { error = "audio segment needs N[,N...] or frame"; return false; }
      std::string_view list = w[1];
      while (!list.empty()) {
        const size_t comma = list.find(',');
        auto v = NonNegative(list.substr(0, comma));
        if (!v || *v == 0 || *v > 65536) { error = "segment sizes are 1 to 65536 bytes"; return false; }
        s.sizes.push_back(static_cast<size_t>(*v));
        if (comma == std::string_view::npos) break;
        list = list.substr(comma + 1);
      }
      if (s.sizes.empty()) { error = "audio segment needs sizes"; return false; }
      return true;
    }
    if (n == 2 && EqualsNoCase(w[0], "jitter")) {
      auto v = NonNegative(w[1]);
      if (!v) { error = "audio jitter needs MS"; return false; }
      s.op = Op::AudioJitter;
      s.a = *v;
      return true;
    }
    auto side = n >= 2 ? ParseSide(w[0]) : std::nullopt;
    if (!side) { error = "audio needs mic|spk, segment or jitter"; return false; }
    s.side = *side;
    const std::string what = LowerAscii(w[1]);
    if (what == "tone" && n == 4) {
      auto f = ParseInteger(w[2]);
      auto amp = ParseInteger(w[3]);
      if (!f || *f <= 0 || *f >= kSampleRate / 2 || !amp || *amp < 0 || *amp > 32767) {
        error = "audio tone needs a frequency below 8000 Hz and an amplitude 0..32767";
        return false;
      }
      s.op = Op::AudioTone;
      s.x = static_cast<double>(*f);
      s.y = static_cast<double>(*amp);
      return true;
    }
    if (what == "wav" && n == 3) { s.op = Op::AudioWav; s.text = w[2]; return true; }
    if (what == "silence" && n == 2) { s.op = Op::AudioSilence; return true; }
    if ((what == "on" || what == "off") && n == 2) { s.op = Op::AudioEnable; s.a = what == "on"; return true; }
    if ((what == "delay" && n == 3) || (what == "drop" && (n == 3 || n == 4))) {
      auto v = NonNegative(w[2]);
      if (!v) { error = "audio " + what + " needs MS"; return false; }
      if (n == 4 && !EqualsNoCase(w[3], "reset")) { error = "audio drop takes MS [reset]"; return false; }
      s.op = what == "delay" ? Op::AudioDelay : Op::AudioDrop;
      s.a = *v;
      s.b = n == 4;
      return true;
    }
    error = "unknown audio step";
    return false;
  }
  error = "unknown step '" + keyword + "'";
  return false;
}

}  // namespace


std::optional<Scenario> ParseScenario(std::string_view text, std::string& error) {
  Scenario sc;
  std::map<std::string, std::string> vars;
  int lineNo = 0;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // editors' UTF-8 mark
  while (!text.empty()) {
    ++lineNo;
    const size_t nl = text.find('\n');
    std::string_view raw = text.substr(0, nl);
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
    const std::string_view t = Trim(raw);
    if (t.empty() || t[0] == '#') continue;
    std::string line, why;
    if (!ExpandVariables(t, vars, line, why)) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      return std::nullopt;
    }
    if (StartsWithNoCase(line, "set ") || StartsWithNoCase(line, "set\t")) {
      const std::string_view r = Trim(std::string_view(line).substr(4));
      const size_t sp = r.find_first_of(" \t");
      if (r.empty() || sp == std::string_view::npos) {
        error = "line " + std::to_string(lineNo) + ": set needs NAME VALUE";
        return std::nullopt;
      }
      auto value = Unquote(r.substr(sp + 1));
      if (!value) {
        error = "line " + std::to_string(lineNo) + ": bad quotes";
        return std::nullopt;
      }
      vars[LowerAscii(r.substr(0, sp))] = *value;
      continue;
    }
    Step s;
    s.line = lineNo;
    if (!ParseLine(line, s, why)) {
      error = "line " + std::to_string(lineNo) + ": " + why;
      return std::nullopt;
    }
    sc.steps.push_back(std::move(s));
  }
  return sc;
}

std::string FillCaptures(std::string_view reply, const std::vector<std::string>& captures) {
  std::string out;
  for (size_t i = 0; i < reply.size(); ++i) {
    if (reply[i] == '{' && i + 2 < reply.size() && reply[i + 1] >= '1' && reply[i + 1] <= '9' && reply[i + 2] == '}') {
      const size_t k = static_cast<size_t>(reply[i + 1] - '1');
      if (k < captures.size()) out += captures[k];
      i += 2;
      continue;
    }
    out += reply[i];
  }
  return out;
}

std::optional<std::string> EndedCallId(std::string_view text) {
  auto w = SplitWords(Trim(text));
  if (!w || w->size() != 4 || !EqualsNoCase((*w)[0], "CALL") || !EqualsNoCase((*w)[2], "STATUS")) return std::nullopt;
  for (const char* word : {"FINISHED", "FAILED", "MISSED", "REFUSED", "BUSY", "CANCELLED"})
    if (EqualsNoCase((*w)[3], word)) return (*w)[1];
  return std::nullopt;
}

std::optional<Redirection> ParseRedirection(std::string_view command) {
  std::vector<std::string> caps;
  Redirection r;
  if (GlobMatch("alter call * set_capture_mic port=\"*\"", command, &caps)) {
    r.side = Side::Mic;
  } else if (GlobMatch("alter call * set_output soundcard=\"default\", port=\"*\"", command, &caps)) {
    r.side = Side::Spk;
  } else {
    return std::nullopt;
  }
  r.callId = caps[0];
  if (r.callId.empty() || r.callId.find_first_of(" \t\"") != std::string::npos) return std::nullopt;
  auto port = ParseInteger(caps[1]);
  if (!port || *port < 1 || *port > 65535 || caps[1].find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  r.port = static_cast<int>(*port);
  return r;
}

}  // namespace sim
