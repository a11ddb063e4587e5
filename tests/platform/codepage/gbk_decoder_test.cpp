// The ICU backend's GBK decoder: its shortcuts (ASCII blocks, a pair table, two halves of a
// long text at once) checked against ICU's own decoder over the whole text.
#include <gtest/gtest.h>
#include <unicode/ucnv.h>
#include <unicode/ustring.h>

#include <random>
#include <string>
#include <vector>

#include "platform/codepage/codepage.h"

namespace quorvel::platform {
namespace {

// ---- GBK decoding against ICU ----------------------------------------------------------
//
// GBK text is decoded through shortcuts (ASCII blocks, a pair table) that hand everything
// unusual to ICU piece by piece. Whatever the text, the result must be what ICU's own
// windows-936-2000 decoder gives over the whole text in one call.

std::u16string IcuGbkToWide(std::string_view in) {
  UErrorCode e = U_ZERO_ERROR;
  UConverter* c = ucnv_open("windows-936-2000", &e);
  ucnv_setToUCallBack(c, UCNV_TO_U_CALLBACK_SUBSTITUTE, nullptr, nullptr, nullptr, &e);
  std::u16string out(in.size() + 1, u'\0');
  UChar* t = out.data();
  const char* s = in.data();
  ucnv_toUnicode(c, &t, out.data() + out.size(), &s, in.data() + in.size(), nullptr, true, &e);
  ucnv_close(c);
  EXPECT_TRUE(U_SUCCESS(e)) << u_errorName(e);
  out.resize(static_cast<std::size_t>(t - out.data()));
  return out;
}

std::string IcuUtf8(std::u16string_view in) {
  UErrorCode e = U_ZERO_ERROR;
  std::string out(in.size() * 3 + 1, '\0');
  int32_t n = 0;
  u_strToUTF8WithSub(out.data(), static_cast<int32_t>(out.size()), &n, in.data(),
                     static_cast<int32_t>(in.size()), 0xFFFD, nullptr, &e);
  EXPECT_TRUE(U_SUCCESS(e)) << u_errorName(e);
  out.resize(static_cast<std::size_t>(n));
  return out;
}

// Our conversions into buffers with room to spare (a size query alone takes another road).
std::u16string OurGbkToWide(std::string_view in) {
  std::vector<char16_t> out(in.size() + 8);
  const int n = MultiByteToWide(kCodePageGbk, 0, in.data(), static_cast<int>(in.size()), out.data(),
                                static_cast<int>(out.size()));
  return std::u16string(out.data(), static_cast<std::size_t>(n));
}
std::string OurGbkToUtf8(std::string_view in) {
  std::vector<char> out(in.size() * 3 + 8);
  const int n = MultiByteToMultiByte(kCodePageGbk, in.data(), static_cast<int>(in.size()),
                                     kCodePageUtf8, out.data(), static_cast<int>(out.size()));
  return std::string(out.data(), static_cast<std::size_t>(n));
}

void ExpectSameAsIcu(std::string_view in) {
  const std::u16string want = IcuGbkToWide(in);
  ASSERT_EQ(OurGbkToWide(in), want) << testing::PrintToString(std::string(in.substr(0, 80)));
  ASSERT_EQ(OurGbkToUtf8(in), IcuUtf8(want))
      << testing::PrintToString(std::string(in.substr(0, 80)));
}

TEST(CodePage, GbkDecodingEqualsIcuForEveryPairAtEveryAlignment) {
  // Every byte of 0x80 and above before every byte, each pair after an ASCII run of 0 to
  // 18 bytes, so pairs meet the 16-byte steps at every offset; then the pairs back to back,
  // where one read otherwise shifts all that follow; then each pair alone at the very end.
  std::string spaced;
  std::string packed;
  int k = 0;
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int trail = 0; trail <= 0xFF; ++trail, ++k) {
      spaced.append(static_cast<std::size_t>(k % 19), static_cast<char>('a' + k % 26));
      spaced += static_cast<char>(lead);
      spaced += static_cast<char>(trail);
      packed += static_cast<char>(lead);
      packed += static_cast<char>(trail);
    }
  }
  ExpectSameAsIcu(spaced);
  ExpectSameAsIcu(packed);
  ExpectSameAsIcu(packed.substr(1));
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (std::string_view before : {"", "0123456789abcdefghij", "\xD6\xD0", "x\xD6\xD0"}) {
      for (int trail : {0x00, 0x20, 0x3F, 0x40, 0x7E, 0x7F, 0x80, 0xA1, 0xFE, 0xFF}) {
        std::string in(before);
        in += static_cast<char>(lead);
        in += static_cast<char>(trail);
        ExpectSameAsIcu(in);
      }
      std::string in(before);  // a lead byte (or a one-byte character) that ends the text
      in += static_cast<char>(lead);
      ExpectSameAsIcu(in);
    }
  }
}

TEST(CodePage, GbkDecodingEqualsIcuOnMixedText) {
  // ASCII runs of every length around well-formed characters, the one-byte characters 0x80
  // and 0xFF, lead bytes before ASCII, before 0x7F and before the end, and raw bytes;
  // short texts and texts of a few hundred kilobytes.
  const std::string_view fragments[] = {
      "\xD6\xD0",     "\xCE\xC4", "\xA1\xA1", "\xB0\xA1\xB0\xA2", "\x81\x40", "\xFE\xFE",
      "\xAA\xA1",     "\x80",     "\xFF",     "\x81\x7F",         "\x81 ",    "\xA3",
      "\xD6\xD0\xD6", "\r\n",     "<td>",     "\xA8\xA6",         "\x81\x30"};
  std::mt19937 rng(936);
  for (int round = 0; round < 400; ++round) {
    std::string in;
    const std::size_t length = round % 50 == 0 ? 300000 : rng() % 120 + 1;
    while (in.size() < length) {
      switch (rng() % 4) {
        case 0:
          in.append(rng() % 40, static_cast<char>('A' + rng() % 26));
          break;
        case 1:
          in += static_cast<char>(rng() % 256);
          break;
        default:
          in += fragments[rng() % std::size(fragments)];
      }
    }
    ExpectSameAsIcu(in);
  }
}

TEST(CodePage, GbkDecodingStopsAtTheRoomGiven) {
  // Too little room by any amount gives 0 and writes nothing past the buffer (each buffer
  // is exactly that size, so ASan sees any stray write); exactly enough gives the result.
  // ASCII runs of every length and runs of up to 11 characters meet the end of the room at
  // every offset.
  std::string in;
  for (int i = 0; i < 40; ++i) {
    in.append(static_cast<std::size_t>(i % 21), 'a');
    in += i % 7 == 0 ? "\x80" : "\xD6\xD0\xCE\xC4";
    if (i % 5 == 0)
      in += "\xB0\xA1\xB0\xA2\xB0\xA3\xB0\xA4\xB0\xA5\xB0\xA6\xB0\xA7\xB0\xA8\xB0\xA9";
    if (i % 11 == 0) in += "\x81 ";
  }
  const std::u16string wide = IcuGbkToWide(in);
  const std::string utf8 = IcuUtf8(wide);
  const int len = static_cast<int>(in.size());
  for (std::size_t room = 1; room <= wide.size(); ++room) {
    std::vector<char16_t> w(room);
    const int n =
        MultiByteToWide(kCodePageGbk, 0, in.data(), len, w.data(), static_cast<int>(room));
    if (room < wide.size()) {
      ASSERT_EQ(n, 0) << room;
    } else {
      ASSERT_EQ(std::u16string(w.data(), room), wide);
    }
  }
  for (std::size_t room = 1; room <= utf8.size(); ++room) {
    std::vector<char> b(room);
    const int n = MultiByteToMultiByte(kCodePageGbk, in.data(), len, kCodePageUtf8, b.data(),
                                       static_cast<int>(room));
    if (room < utf8.size()) {
      ASSERT_EQ(n, 0) << room;
    } else {
      ASSERT_EQ(std::string(b.data(), room), utf8);
    }
  }
}

TEST(CodePage, LongGbkTextsConvertAsOnePiece) {
  // Long texts are converted in two halves at once; the halves meet where no character can
  // span them. Whatever stands around the middle, a lead byte or a one-byte character right
  // before it, invalid sequences, or no place to cut at all, the result is ICU's over the
  // whole text, and too little room still gives 0.
  const std::size_t n = std::size_t{1} << 20;
  std::string chinese;
  while (chinese.size() < n) chinese += "\xD6\xD0\xCE\xC4";
  std::string rows;
  for (int i = 0; rows.size() < n; ++i) rows += "<td>\xB5\xDA" + std::to_string(i) + "\xB3\xA1</td>\r\n";
  const std::string_view around[] = {"",        "\x81",     "\x80",      "\xFF",
                                     "\x81\x40", "\xD6 ",    "a\xD6\xD0", "\x81\x30\x31"};
  std::vector<std::string> texts = {chinese, rows, std::string(n, 'a')};
  for (std::string_view piece : around) {
    for (std::size_t shift = 0; shift < 4; ++shift) {
      std::string t = rows;
      t.replace(t.size() / 2 - shift, piece.size(), piece);
      texts.push_back(t);
      t = chinese;
      t.replace(t.size() / 2 - shift, piece.size(), piece);
      texts.push_back(t);
    }
  }
  for (const std::string& t : texts) ExpectSameAsIcu(t);

  const std::u16string want = IcuGbkToWide(rows);
  std::vector<char16_t> small(want.size() - 1);
  EXPECT_EQ(MultiByteToWide(kCodePageGbk, 0, rows.data(), static_cast<int>(rows.size()),
                            small.data(), static_cast<int>(small.size())),
            0);
}

}  // namespace
}  // namespace quorvel::platform
