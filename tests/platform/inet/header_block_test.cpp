// The header block reader on received bytes: what block the request layer reports.
#include "platform/inet/header_block.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel::platform {
namespace {

TEST(RawHeaderBlock, Table) {
  using namespace std::string_literals;
  struct Case {
    std::string received;
    std::string block;
  };
  const Case cases[] = {
      {"HTTP/1.1 200 OK\r\nA: 1\r\n\r\nbody", "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n"},
      // Bare LF line ends come back as CR LF.
      {"HTTP/1.1 200 OK\nA: 1\n\nbody", "HTTP/1.1 200 OK\r\nA: 1\r\n\r\n"},
      // A later line that begins with "HTTP/" is an ordinary line.
      {"HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nHTTP/Foo: bar\r\nContent-Length: 2\r\n\r\nok",
       "HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\nHTTP/Foo: bar\r\nContent-Length: 2\r\n\r\n"},
      {"HTTP/1.1 200 OK\r\nHTTP/1.1 100 Continue\r\n\r\n",
       "HTTP/1.1 200 OK\r\nHTTP/1.1 100 Continue\r\n\r\n"},
      // Interim blocks are dropped; the next line starts the final block.
      {"HTTP/1.1 100 Continue\r\nX-Interim: 1\r\n\r\nHTTP/1.1 103 Early\r\n\r\n"
       "HTTP/1.1 404 Not Found\r\nB: 2\r\n\r\n",
       "HTTP/1.1 404 Not Found\r\nB: 2\r\n\r\n"},
      // An interim status written mid-block does not make the block interim.
      {"HTTP/1.1 200 OK\r\nHTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 500 No\r\n\r\n",
       "HTTP/1.1 200 OK\r\nHTTP/1.1 100 Continue\r\n\r\n"},
      // No end yet, or a last line without its LF: nothing to report.
      {"HTTP/1.1 200 OK\r\nA: 1\r\n", ""},
      {"HTTP/1.1 200 OK\r\nA: 1\r\n\r", ""},
      {"HTTP/1.1 100 Continue\r\n\r\n", ""},
      {"", ""},
      // Odd bytes stay as they came, inside their line.
      {"HTTP/1.1 200 OK\r\nX: a\0b\rc\r\n\r\n"s, "HTTP/1.1 200 OK\r\nX: a\0b\rc\r\n\r\n"s},
      {"\n", "\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(RawHeaderBlock(c.received), c.block) << c.received;
}

TEST(HeaderBlockReader, StatusAndLocationComeFromTheirOwnLinesOnly) {
  struct Case {
    std::string lines;  // LF-separated
    int status;
    std::string location;
  };
  const Case cases[] = {
      {"HTTP/1.1 302 Found\nLocation:  /next \n", 302, "/next"},
      {"HTTP/1.1 302 Found\nlocation:/a\nLOCATION: /b\n", 302, "/b"},
      // The status line is never a Location line, and later "HTTP/" lines set no status.
      {"Location: /x\nHTTP/1.1 301 Moved\n", 0, ""},
      {"HTTP/1.1 200 OK\nHTTP/1.1 301 Moved\nLocation: /y\n", 200, "/y"},
      {"HTTP/1.1 -12 Odd\n", 0, ""},
      {"HTTP/1.1\n", 0, ""},
      {"HTTP/2 204\n", 204, ""},
  };
  for (const Case& c : cases) {
    HeaderBlockReader reader;
    std::size_t begin = 0;
    while (begin < c.lines.size()) {
      const std::size_t lf = c.lines.find('\n', begin);
      EXPECT_EQ(reader.Take(c.lines.substr(begin, lf + 1 - begin)), HeaderBlockReader::Step::kLine);
      begin = lf + 1;
    }
    EXPECT_EQ(reader.status(), c.status) << c.lines;
    EXPECT_EQ(reader.location(), c.location) << c.lines;
    EXPECT_FALSE(reader.ended());
  }
}

TEST(HeaderBlockReader, StepsThroughInterimFinalAndTrailers) {
  HeaderBlockReader reader;
  using Step = HeaderBlockReader::Step;
  EXPECT_EQ(reader.Take("HTTP/1.1 101 Switching\r\n"), Step::kLine);
  EXPECT_EQ(reader.Take("\r\n"), Step::kInterim);
  EXPECT_EQ(reader.raw(), "");
  EXPECT_EQ(reader.Take("HTTP/1.1 200 OK\r\n"), Step::kLine);
  EXPECT_EQ(reader.Take("\r\n"), Step::kEnd);
  EXPECT_TRUE(reader.ended());
  EXPECT_EQ(reader.Take("X-Trailer: t\r\n"), Step::kIgnored);
  EXPECT_EQ(reader.raw(), "HTTP/1.1 200 OK\r\n\r\n");
  reader.Reset();
  EXPECT_FALSE(reader.ended());
  EXPECT_EQ(reader.raw(), "");
  EXPECT_EQ(reader.status(), 0);
}

}  // namespace
}  // namespace quorvel::platform
