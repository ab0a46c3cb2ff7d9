// Tests of the stand-in's portable parts: matching, scenario reading, redirection
// commands, the PCM it sends and how that is cut into TCP writes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Pcm.h"
#include "Scenario.h"
#include "SimText.h"

namespace sim {
namespace {

TEST(SkypeSimMatch, GlobTable) {
  struct Case {
    const char* pattern;
    const char* text;
    bool match;
    std::vector<std::string> captures;
  } cases[] = {
      {"SEARCH FRIENDS", "search friends", true, {}},
      {"SEARCH ACTIVECALLS ", "SEARCH ACTIVECALLS", false, {}},  // the trailing space counts
      {"SEARCH ACTIVECALLS", "SEARCH ACTIVECALLS ", false, {}},
      {"get call * status", "GET CALL 1234 STATUS", true, {"1234"}},
      {"get call * *", "get call 1234 conf_participant 0", true, {"1234", "conf_participant 0"}},
      {"*", "", true, {""}},
      {"ping", "pong", false, {}},
      {"get user * fullname", "get user Алиса fullname", true, {"Алиса"}},
      {"get user алиса fullname", "get user АЛИСА fullname", false, {}},  // only ASCII folds
      {"a*c", "abcbc", true, {"bcb"}},
      {"", "x", false, {}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> caps;
    EXPECT_EQ(GlobMatch(c.pattern, c.text, &caps), c.match) << c.pattern << " / " << c.text;
    if (c.match) {
      EXPECT_EQ(caps, c.captures) << c.pattern;
    }
  }
}

TEST(SkypeSimMatch, LongTextAgainstStarsStaysCheap) {
  // A 1 MB command against a pattern with stars must not copy per attempt.
  const std::string big(1 << 20, 'x');
  std::vector<std::string> caps;
  EXPECT_TRUE(GlobMatch("x*x", big, &caps));
  ASSERT_EQ(caps.size(), 1u);
  EXPECT_EQ(caps[0].size(), big.size() - 2);
  EXPECT_FALSE(GlobMatch("get call * status", big));
}

TEST(SkypeSimMatch, FillCapturesReplacesOnlyKnownCaptures) {
  EXPECT_EQ(FillCaptures("CALL {1} STATUS {2}", {"12", "INPROGRESS"}), "CALL 12 STATUS INPROGRESS");
  EXPECT_EQ(FillCaptures("CALL {1} {3}", {"12"}), "CALL 12 ");
  EXPECT_EQ(FillCaptures("{x} {1", {"12"}), "{x} {1");
}

TEST(SkypeSimRedirection, CommandTable) {
  struct Case {
    const char* text;
    bool ok;
    const char* id;
    Side side;
    int port;
  } cases[] = {
      {"alter call 1234 set_capture_mic port=\"38377\"", true, "1234", Side::Mic, 38377},
      {"ALTER CALL 1234 SET_CAPTURE_MIC PORT=\"38377\"", true, "1234", Side::Mic, 38377},
      {"alter call 1234 set_output soundcard=\"default\", port=\"38376\"", true, "1234", Side::Spk, 38376},
      {"ALTER CALL 99 SET_OUTPUT SOUNDCARD=\"DEFAULT\", PORT=\"38376\"", true, "99", Side::Spk, 38376},
      {"alter call 1234 set_output port=\"38376\"", false, "", Side::Spk, 0},
      {"alter call 1234 set_output soundcard=\"default\",port=\"38376\"", false, "", Side::Spk, 0},
      {"alter call 1234 set_capture_mic port=38377", false, "", Side::Mic, 0},
      {"alter call 1234 set_capture_mic port=\"\"", false, "", Side::Mic, 0},
      {"alter call 1234 set_capture_mic port=\"3837x\"", false, "", Side::Mic, 0},
      {"alter call 1234 set_capture_mic port=\"99999\"", false, "", Side::Mic, 0},
      {"alter call 1 2 set_capture_mic port=\"38377\"", false, "", Side::Mic, 0},
      {"alter call  set_capture_mic port=\"38377\"", false, "", Side::Mic, 0},
      {"get call 1234 status", false, "", Side::Mic, 0},
  };
  for (const auto& c : cases) {
    auto r = ParseRedirection(c.text);
    ASSERT_EQ(r.has_value(), c.ok) << c.text;
    if (!r) continue;
    EXPECT_EQ(r->callId, c.id) << c.text;
    EXPECT_EQ(r->side, c.side) << c.text;
    EXPECT_EQ(r->port, c.port) << c.text;
  }
}

TEST(SkypeSimRedirection, EndedCallTable) {
  struct Case {
    const char* text;
    const char* id;  // nullptr: does not end a call
  } cases[] = {
      {"CALL 1234 STATUS FINISHED", "1234"}, {"call 7 status cancelled", "7"}, {"CALL 8 STATUS MISSED", "8"},
      {"CALL 8 STATUS REFUSED", "8"},        {"CALL 8 STATUS BUSY", "8"},      {"CALL 8 STATUS FAILED", "8"},
      {"CALL 1234 STATUS INPROGRESS", nullptr}, {"CALL 1234 STATUS ONHOLD", nullptr},
      {"CALL 1234 DURATION 5", nullptr},     {"CALLS 1234", nullptr},          {"CALL 1234 STATUS FINISHED x", nullptr},
  };
  for (const auto& c : cases) {
    auto id = EndedCallId(c.text);
    if (c.id)
      EXPECT_EQ(id, std::optional<std::string>(c.id)) << c.text;
    else
      EXPECT_FALSE(id.has_value()) << c.text;
  }
}

TEST(SkypeSimScenario, StepsAndTheirArguments) {
  const char* text =
      "\xEF\xBB\xBF# a call\n"
      "set call 1234\n"
      "set user \"Алиса Ли\"\n"
      "attach 0x8001 250\n"
      "attach none\n"
      "answer GET CURRENTUSERHANDLE = CURRENTUSERHANDLE {user}\n"
      "answer \"SEARCH ACTIVECALLS \" = CALLS {call}\n"
      "answer get call * status = CALL {1} STATUS RINGING || \"CALL {1} STATUS INPROGRESS \"\n"
      "answer search friends =\n"
      "wait-command \"SEARCH ACTIVECALLS \" 5000\n"
      "wait-command get call {call} type 700\n"
      "expect-count ping 1 3\n"
      "send CALL {call} STATUS INPROGRESS\n"
      "pong off\n"
      "audio segment 100,700,1022\n"
      "audio spk tone 1000 12000\n"
      "audio mic drop 1500 reset\n"
      "audio spk off\n"
      "   \n"
      "exit\n";
  std::string error;
  auto sc = ParseScenario(text, error);
  ASSERT_TRUE(sc) << error;
  const auto& s = sc->steps;
  ASSERT_EQ(s.size(), 16u);
  EXPECT_EQ(s[0].op, Op::Attach);
  EXPECT_EQ(s[0].a, 0x8001);
  EXPECT_EQ(s[0].b, 250);
  EXPECT_EQ(s[0].line, 4);
  EXPECT_EQ(s[1].a, -1);
  EXPECT_EQ(s[2].text, "GET CURRENTUSERHANDLE");
  EXPECT_EQ(s[2].replies, std::vector<std::string>{"CURRENTUSERHANDLE Алиса Ли"});
  EXPECT_EQ(s[3].text, "SEARCH ACTIVECALLS ");
  EXPECT_EQ(s[3].replies, std::vector<std::string>{"CALLS 1234"});
  EXPECT_EQ(s[4].replies, (std::vector<std::string>{"CALL {1} STATUS RINGING", "CALL {1} STATUS INPROGRESS "}));
  EXPECT_EQ(s[5].op, Op::Answer);
  EXPECT_TRUE(s[5].replies.empty());
  EXPECT_EQ(s[6].op, Op::WaitCommand);
  EXPECT_EQ(s[6].text, "SEARCH ACTIVECALLS ");
  EXPECT_EQ(s[6].a, 5000);
  EXPECT_EQ(s[7].text, "get call 1234 type");
  EXPECT_EQ(s[7].a, 700);
  EXPECT_EQ(s[8].op, Op::ExpectCount);
  EXPECT_EQ(s[8].a, 1);
  EXPECT_EQ(s[8].b, 3);
  EXPECT_EQ(s[9].text, "CALL 1234 STATUS INPROGRESS");
  EXPECT_EQ(s[10].op, Op::Pong);
  EXPECT_EQ(s[10].text, "off");
  EXPECT_EQ(s[11].sizes, (std::vector<size_t>{100, 700, 1022}));
  EXPECT_EQ(s[12].side, Side::Spk);
  EXPECT_EQ(s[12].x, 1000);
  EXPECT_EQ(s[12].y, 12000);
  EXPECT_EQ(s[13].op, Op::AudioDrop);
  EXPECT_EQ(s[13].a, 1500);
  EXPECT_EQ(s[13].b, 1);
  EXPECT_EQ(s[14].op, Op::AudioEnable);
  EXPECT_EQ(s[14].a, 0);
  EXPECT_EQ(s[15].op, Op::Exit);
}

TEST(SkypeSimScenario, PayloadSteps) {
  std::string error;
  auto sc = ParseScenario("send-hex\nsend-hex 41 ff00\nsend-repeat 1048576 ab\nsend-foreign CALL 9 STATUS INPROGRESS\n", error);
  ASSERT_TRUE(sc) << error;
  ASSERT_EQ(sc->steps.size(), 4u);
  EXPECT_EQ(sc->steps[0].op, Op::SendHex);
  EXPECT_TRUE(sc->steps[0].text.empty());
  EXPECT_EQ(sc->steps[1].text, std::string("A\xFF\0", 3));
  EXPECT_EQ(sc->steps[2].op, Op::SendRepeat);
  EXPECT_EQ(sc->steps[2].a, 1048576);
  EXPECT_EQ(sc->steps[2].text, "ab");
  EXPECT_EQ(sc->steps[3].op, Op::SendForeign);
  EXPECT_EQ(sc->steps[3].text, "CALL 9 STATUS INPROGRESS");
  for (const char* bad : {"send-hex 4\n", "send-hex 4g\n", "send-hex -1\n", "send-repeat 0 a\n", "send-repeat 10\n"})
    EXPECT_FALSE(ParseScenario(bad, error)) << bad;
}

TEST(SkypeSimScenario, MistakesNameTheirLine) {
  struct Case {
    const char* text;
    const char* error;
  } cases[] = {
      {"sleep 10\nslep 10\n", "line 2: unknown step 'slep'"},
      {"send CALL {call} STATUS INPROGRESS\n", "line 1: unknown placeholder {call}"},
      {"wait-command ping\n", "line 1: wait-command needs PATTERN MS"},
      {"wait-command \"ping 500\n", "line 1: unbalanced quotes"},
      {"expect-count ping 3 1\n", "line 1: expect-count needs PATTERN MIN MAX with MIN <= MAX"},
      {"answer ping pong\n", "line 1: answer needs PATTERN = REPLY"},
      {"audio segment 100,0\n", "line 1: segment sizes are 1 to 65536 bytes"},
      {"audio mic tone 9000 100\n", "line 1: audio tone needs a frequency below 8000 Hz and an amplitude 0..32767"},
      {"audio left tone 440 100\n", "line 1: audio needs mic|spk, segment or jitter"},
      {"attach yes\n", "line 1: bad attach status"},
      {"sleep -5\n", "line 1: sleep needs one number"},
      {"\n\nsend\n", "line 3: send needs a text"},
  };
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(ParseScenario(c.text, error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(SkypeSimText, LogEscapingKeepsOneLinePerEntry) {
  EXPECT_EQ(EscapeForLog("CALL 1 STATUS\nFAIL x"), "CALL 1 STATUS\\x0AFAIL x");
  EXPECT_EQ(EscapeForLog("a\\b"), "a\\\\b");
  EXPECT_EQ(EscapeForLog("Алиса 山田 😀"), "Алиса 山田 😀");
  EXPECT_EQ(EscapeForLog("\xC3("), "\\xC3(");          // cut sequence
  EXPECT_EQ(EscapeForLog("\xC0\xAF"), "\\xC0\\xAF");   // overlong slash
  EXPECT_EQ(EscapeForLog("\xED\xA0\x80"), "\\xED\\xA0\\x80");  // surrogate
  EXPECT_EQ(EscapeForLog(std::string("a\0b", 3)), "a\\x00b");
}

TEST(SkypeSimText, WideRoundTripKeepsEveryPlane) {
  const std::string utf8 = "Алиса 山田 😀 x";
  EXPECT_EQ(Utf8FromWide(WideFromUtf8(utf8)), utf8);
  EXPECT_EQ(WideFromUtf8("\xFF" "a"), L"\xFFFD" L"a");
}

TEST(SkypeSimPcm, ToneIsContinuousAcrossCalls) {
  CPcmSource whole = CPcmSource::Tone(440, 8000), pieces = CPcmSource::Tone(440, 8000);
  std::vector<uint8_t> a, b;
  whole.AppendFrames(7, a);
  pieces.AppendFrames(3, b);
  pieces.AppendFrames(4, b);
  ASSERT_EQ(a.size(), 7 * kFrameBytes);
  EXPECT_EQ(a, b);
  EXPECT_EQ(pieces.SamplesPlayed(), 7u * 160u);
  int peak = 0;
  for (size_t i = 0; i < a.size(); i += 2) peak = std::max(peak, std::abs(static_cast<int16_t>(a[i] | (a[i + 1] << 8))));
  EXPECT_GE(peak, 7990);
  EXPECT_LE(peak, 8000);
  // A quarter period in: sin(pi/2) at 4000 Hz is sample 1.
  CPcmSource quarter = CPcmSource::Tone(4000, 1000);
  std::vector<uint8_t> q;
  quarter.AppendFrames(1, q);
  EXPECT_EQ(static_cast<int16_t>(q[2] | (q[3] << 8)), 1000);
  EXPECT_EQ(static_cast<int16_t>(q[6] | (q[7] << 8)), -1000);
}

TEST(SkypeSimPcm, SamplesThenSilence) {
  CPcmSource s = CPcmSource::Samples({1, -2, 300});
  std::vector<uint8_t> out;
  s.AppendFrames(1, out);
  ASSERT_EQ(out.size(), kFrameBytes);
  EXPECT_EQ(static_cast<int16_t>(out[2] | (out[3] << 8)), -2);
  EXPECT_EQ(static_cast<int16_t>(out[4] | (out[5] << 8)), 300);
  for (size_t i = 6; i < out.size(); ++i) EXPECT_EQ(out[i], 0) << i;
}

std::vector<uint8_t> Wave(uint16_t channels, uint32_t rate, uint16_t bits, std::vector<int16_t> samples,
                          bool oddChunkFirst = false) {
  std::vector<uint8_t> b;
  auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i))); };
  auto u16 = [&](uint16_t v) { b.push_back(static_cast<uint8_t>(v)); b.push_back(static_cast<uint8_t>(v >> 8)); };
  auto tag = [&](const char* t) { b.insert(b.end(), t, t + 4); };
  tag("RIFF"); u32(0); tag("WAVE");
  if (oddChunkFirst) { tag("LIST"); u32(3); b.push_back('a'); b.push_back('b'); b.push_back('c'); b.push_back(0); }
  tag("fmt "); u32(16); u16(1); u16(channels); u32(rate); u32(rate * channels * bits / 8);
  u16(static_cast<uint16_t>(channels * bits / 8)); u16(bits);
  tag("data"); u32(static_cast<uint32_t>(samples.size() * 2));
  for (int16_t s : samples) u16(static_cast<uint16_t>(s));
  return b;
}

TEST(SkypeSimPcm, WaveFilesTable) {
  struct Case {
    std::vector<uint8_t> file;
    bool ok;
  } cases[] = {
      {Wave(1, 16000, 16, {5, -6, 7}), true},
      {Wave(1, 16000, 16, {5, -6, 7}, true), true},  // an odd-sized chunk is padded
      {Wave(2, 16000, 16, {5, -6}), false},
      {Wave(1, 44100, 16, {5}), false},
      {Wave(1, 16000, 8, {5}), false},
      {std::vector<uint8_t>{'R', 'I', 'F', 'F'}, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::vector<int16_t> samples;
    std::string error;
    EXPECT_EQ(ParseWave(cases[i].file, samples, error), cases[i].ok) << i << " " << error;
    if (cases[i].ok) {
      EXPECT_EQ(samples, (std::vector<int16_t>{5, -6, 7})) << i;
    }
  }
  auto truncated = Wave(1, 16000, 16, {1, 2, 3, 4});
  truncated.resize(truncated.size() - 3);  // the data chunk claims more than is there
  std::vector<int16_t> samples;
  std::string error;
  EXPECT_FALSE(ParseWave(truncated, samples, error));
}

TEST(SkypeSimPcm, SegmenterDeliversEveryByteOnceInOrder) {
  const std::vector<std::vector<size_t>> sizeLists = {{}, {100, 700, 1022}, {320}, {1}, {1000}, {65536}};
  // Frames arrive in uneven bursts, as the paced loop hands them over.
  const size_t bursts[] = {1, 3, 1, 7, 2, 1, 1, 10, 4};
  for (const auto& sizes : sizeLists) {
    CSegmenter seg(sizes);
    std::vector<uint8_t> sent, expected, write;
    std::vector<size_t> writes;
    uint8_t next = 1;
    // Enough rounds to pass the point where the segmenter compacts its buffer.
    for (int round = 0; round < 10; ++round)
    for (size_t frames : bursts) {
      std::vector<uint8_t> chunk;
      for (size_t i = 0; i < frames * kFrameBytes; ++i) chunk.push_back(next++);
      expected.insert(expected.end(), chunk.begin(), chunk.end());
      seg.Append(chunk);
      while (seg.Take(write)) {
        writes.push_back(write.size());
        sent.insert(sent.end(), write.begin(), write.end());
      }
    }
    const size_t beforeFlush = writes.size();
    while (seg.Flush(write)) {
      writes.push_back(write.size());
      sent.insert(sent.end(), write.begin(), write.end());
    }
    EXPECT_EQ(sent, expected) << "sizes " << sizes.size();
    EXPECT_EQ(seg.Pending(), 0u);
    if (!sizes.empty()) {
      for (size_t i = 0; i < beforeFlush; ++i) EXPECT_EQ(writes[i], sizes[i % sizes.size()]) << i;
      for (size_t i = beforeFlush; i < writes.size(); ++i) EXPECT_LE(writes[i], sizes[i % sizes.size()]) << i;
    }
  }
}

}  // namespace
}  // namespace sim
